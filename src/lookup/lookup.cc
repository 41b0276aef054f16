// Merging stores for a lookup; see lookup.h.
#include "lookup/lookup.h"

#include "index/name_order.h"
#include "store/value_order.h"

namespace quarn {

std::unique_ptr<Lookup> Lookup::start(std::span<const RecordStore* const> stores,
                                      const LookupQuery& query) {
  std::unique_ptr<Lookup> l(new Lookup(query));
  for (const RecordStore* s : stores) {
    l->sources_.push_back(std::make_unique<StoreSource>(*s, query));
    l->sources_.back()->start();
  }
  l->advance();
  return l;
}

LookupStats Lookup::stats() const {
  LookupStats s;
  for (const auto& src : sources_) s.records_read += src->records_read();
  s.records_returned = returned_;
  return s;
}

int Lookup::compare(const StoreRecord& a, const StoreRecord& b) const {
  if (q_.kind == LookupKind::kName || q_.kind == LookupKind::kSubtree) {
    return record_order(a.name, a.rrtype, a.raw, b.name, b.rrtype, b.raw);
  }
  const int c = value_order(a.raw, a.rrtype, b.raw, b.rrtype);
  return c != 0 ? c : name_order(a.name, b.name);
}

bool Lookup::check_failed() {
  for (const auto& s : sources_) {
    if (s->failed()) {
      error_ = s->error();
      failed_ = true;
      valid_ = false;
      return true;
    }
  }
  return false;
}

bool Lookup::merge_next() {
  // A linear scan for the smallest key rather than a heap: lookups merge a handful of
  // stores (days), where a scan costs less than keeping a heap in order.
  StoreSource* first = nullptr;
  for (const auto& s : sources_) {
    if (s->valid() && (first == nullptr || compare(s->record(), first->record()) < 0)) {
      first = s.get();
    }
  }
  if (first == nullptr) return false;
  // Copy the key first: advancing a source invalidates its record's views.
  const StoreRecord& r = first->record();
  name_.assign(r.name);
  raw_.assign(r.raw);
  text_.assign(r.text);
  bailiwick_.clear();
  out_.name = name_;
  out_.raw = raw_;
  out_.text = text_;
  out_.rrtype = r.rrtype;
  out_.time_first = r.time_first;
  out_.time_last = r.time_last;
  out_.count = 0;
  for (const auto& s : sources_) {
    if (!s->valid() || compare(s->record(), out_) != 0) continue;
    const StoreRecord& m = s->record();
    out_.count += m.count;
    if (m.time_first < out_.time_first) out_.time_first = m.time_first;
    if (m.time_last > out_.time_last) out_.time_last = m.time_last;
    if (bailiwick_.empty()) bailiwick_.assign(m.bailiwick);
    s->next();
  }
  out_.bailiwick = bailiwick_;
  return true;
}

void Lookup::advance() {
  valid_ = false;
  if (failed_ || (q_.limit != 0 && returned_ >= q_.limit)) return;
  for (;;) {
    if (check_failed()) return;
    if (!merge_next()) {
      check_failed();
      return;
    }
    if (!q_.time.passes(out_.time_first, out_.time_last)) continue;
    if (skipped_ < q_.offset) {
      ++skipped_;
      continue;
    }
    ++returned_;
    valid_ = true;
    return;
  }
}

void Lookup::next() {
  if (valid_) advance();
}

}  // namespace quarn
