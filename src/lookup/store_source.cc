// One store's share of a lookup; see store_source.h.
#include "lookup/store_source.h"

#include <cstring>

#include "store/value_order.h"

namespace quarn {
namespace {

bool is_descendant(std::string_view name, std::string_view parent) {
  return name.size() > parent.size() + 1 &&
         name.compare(name.size() - parent.size(), parent.size(), parent) == 0 &&
         name[name.size() - parent.size() - 1] == '.';
}

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// memcmp over the first min(raw size, bound size) bytes.
int compare_head(std::string_view raw, const std::string& bound) {
  const size_t n = raw.size() < bound.size() ? raw.size() : bound.size();
  return n == 0 ? 0 : std::memcmp(raw.data(), bound.data(), n);
}

}  // namespace

StoreSource::StoreSource(const RecordStore& store, const LookupQuery& query)
    : q_(query), names_(store), values_(store) {}

bool StoreSource::by_value() const {
  return q_.kind == LookupKind::kValue || q_.kind == LookupKind::kPrefix;
}

const StoreRecord& StoreSource::record() const {
  return by_value() ? values_.record() : names_.record();
}

bool StoreSource::cursor_failed() {
  const bool failed = by_value() ? values_.failed() : names_.failed();
  if (failed) {
    error_ = by_value() ? values_.error() : names_.error();
    failed_ = true;
    valid_ = false;
  }
  return failed;
}

void StoreSource::start() {
  valid_ = false;
  failed_ = false;
  target_ = 0;
  switch (q_.kind) {
    case LookupKind::kName:
    case LookupKind::kSubtree:
      names_.seek(q_.name);
      return settle_name();
    case LookupKind::kValue:
      if (q_.targets.empty()) return;
      values_.seek(q_.targets[0].raw, q_.targets[0].rrtype);
      return settle_value();
    case LookupKind::kPrefix:
      values_.seek(q_.prefix_low, 0);
      return settle_prefix();
  }
}

void StoreSource::next() {
  if (!valid_) return;
  if (by_value()) {
    values_.next();
    return q_.kind == LookupKind::kValue ? settle_value() : settle_prefix();
  }
  names_.next();
  settle_name();
}

void StoreSource::settle_name() {
  for (;;) {
    valid_ = false;
    if (cursor_failed() || !names_.valid()) return;
    ++read_;
    const StoreRecord& r = names_.record();
    const bool self = r.name == q_.name;
    if (!self && (q_.kind == LookupKind::kName || !is_descendant(r.name, q_.name))) return;
    if ((self && q_.kind == LookupKind::kSubtree && !q_.include_self) ||
        (q_.rrtype != 0 && r.rrtype != q_.rrtype)) {
      names_.next();
      continue;
    }
    valid_ = true;
    return;
  }
}

void StoreSource::settle_value() {
  for (;;) {
    valid_ = false;
    if (cursor_failed() || !values_.valid()) return;
    const ValueTarget& t = q_.targets[target_];
    if ((q_.rrtype == 0 || t.rrtype == q_.rrtype) &&
        value_order(values_.value_raw(), values_.value_type(), t.raw, t.rrtype) == 0 &&
        same_text(values_.record().text, q_.text)) {
      ++read_;
      valid_ = true;
      return;
    }
    // Past this target (or its value shows another text): on to the next candidate.
    if (++target_ == q_.targets.size()) return;
    values_.seek(q_.targets[target_].raw, q_.targets[target_].rrtype);
  }
}

void StoreSource::settle_prefix() {
  valid_ = false;
  if (cursor_failed() || !values_.valid()) return;
  const size_t width = q_.prefix_low.size();
  using Verdict = ValueCursor::Verdict;
  // Values of other types and lengths share the range's bytes (names whose first label
  // is as long as the address's first byte): they are judged by their entry alone.
  values_.find_value([this, width](std::string_view raw, uint16_t rrtype) {
    if (compare_head(raw, q_.prefix_high) > 0) return Verdict::kEnd;
    const bool take = rrtype == q_.prefix_type && raw.size() == width &&
                      (q_.rrtype == 0 || q_.rrtype == q_.prefix_type) &&
                      compare_head(raw, q_.prefix_low) >= 0;
    return take ? Verdict::kTake : Verdict::kSkip;
  });
  if (cursor_failed() || !values_.valid()) return;
  ++read_;
  valid_ = true;
}

}  // namespace quarn
