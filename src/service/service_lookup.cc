// Record lookups of the service; see service_lookup.h.
#include "service/service_lookup.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/my_time.h"
#include "common/strfmt.h"
#include "lookup/lookup.h"
#include "output/cof_output.h"
#include "output/query_message.h"
#include "output/status_message.h"
#include "retrieval/result_entry.h"
#include "retrieval/rrkit.h"
#include "service/record_source.h"
#include "service/service_messages.h"
#include "store/store_reader.h"

namespace quarn {
namespace {

// Records are sent in batches of about this size, as search results are.
constexpr size_t kBatchBytes = 32 * 1024;
// The deadline and the probe are looked at once per this many merged records: reading
// the clock per record would cost more than the record.
constexpr uint64_t kCheckEvery = 64;
// Seconds between two calls of the abort probe (which also sends what piled up).
constexpr double kProbeSeconds = 0.1;

std::string refuse(int code, const std::string& text = std::string()) {
  return build_status_message(code, text.empty() ? nullptr : text.c_str());
}

// The lookup library's texts start with "Error: "; a fin message carries the reason only.
std::string without_prefix(const std::string& text) {
  constexpr std::string_view kPrefix = "Error: ";
  return text.starts_with(kPrefix) ? text.substr(kPrefix.size()) : text;
}

std::optional<std::string> read_bounds(const UrlParams& params, TimeBounds* t) {
  struct Bound {
    const char* name;
    bool* set;
    int64_t* value;
  } bounds[] = {{"time_first_before", &t->first_before_set, &t->first_before},
                {"time_first_after", &t->first_after_set, &t->first_after},
                {"time_last_before", &t->last_before_set, &t->last_before},
                {"time_last_after", &t->last_after_set, &t->last_after}};
  for (const Bound& b : bounds) {
    const std::string* v = first_param(params, b.name);
    if (v == nullptr) continue;
    if (!read_integer_param(*v, b.value)) return refuse(kStatusIllegalType);
    *b.set = true;
  }
  return std::nullopt;
}

std::optional<std::string> read_paging(const UrlParams& params, uint64_t max_limit,
                                       LookupQuery* q) {
  int64_t n = 0;
  q->limit = max_limit;
  if (const std::string* v = first_param(params, "limit")) {
    if (!read_integer_param(*v, &n)) return refuse(kStatusIllegalType);
    if (n == 0) return refuse(kStatusInvalidLimit);
    // A negative limit asks for no limit of its own, as in a search.
    if (n > 0) q->limit = std::min<uint64_t>(static_cast<uint64_t>(n), max_limit);
  }
  if (const std::string* v = first_param(params, "offset")) {
    if (!read_integer_param(*v, &n) || n < 0) return refuse(kStatusIllegalType);
    q->offset = static_cast<uint64_t>(n);
  }
  return std::nullopt;
}

std::optional<std::string> read_rrtype(const UrlParams& params, uint16_t* rrtype) {
  *rrtype = 0;
  const std::string* v = first_param(params, "rrtype");
  if (v == nullptr || strcasecmp(v->c_str(), "any") == 0) return std::nullopt;
  *rrtype = v->find('\0') == std::string::npos ? rrkit_str_to_rrtype(v->c_str()) : 0;
  if (*rrtype == 0) return refuse(kStatusInvalidRrtype);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> lookup_from_params(const UrlParams& params, bool by_value,
                                              uint64_t max_limit, LookupQuery* q) {
  *q = LookupQuery{};
  const std::string* text = first_param(params, by_value ? "value" : "rrname");
  if (text == nullptr || text->empty()) {
    return refuse(kStatusMissingParameter,
                  by_value ? service_msg::kMissingValue : service_msg::kMissingRrname);
  }
  uint16_t rrtype = 0;
  if (auto r = read_rrtype(params, &rrtype)) return r;
  if (text->size() > kQueryMaxValue) return refuse(kStatusValueTooLong, "value too long");
  std::string error;
  const bool ok = by_value ? parse_value_query(*text, rrtype, q, &error)
                           : parse_name_query(*text, false, q, &error);
  if (!ok) return refuse(kStatusInvalidLookup, without_prefix(error));
  q->rrtype = rrtype;
  if (auto r = read_bounds(params, &q->time)) return r;
  return read_paging(params, max_limit, q);
}

LookupOutcome run_lookup(const LookupQuery& q, const StoreSnapshot& stores, double timeout,
                         const LineSink& sink, const AbortProbe& probe) {
  LookupOutcome o;
  // Time, offset and limit are applied below, so that every merged record passes here.
  LookupQuery inner = q;
  inner.time = TimeBounds{};
  inner.offset = 0;
  inner.limit = 0;
  CofWriter cof;
  std::string batch;
  TimePoint last_record = my_gettime(), last_probe = last_record;
  bool produced = false;
  uint64_t skipped = 0, steps = 0;
  auto lookup = Lookup::start(stores.stores, inner);
  for (; lookup->valid() && (q.limit == 0 || o.records < q.limit); lookup->next()) {
    if (++steps % kCheckEvery == 0) {
      const TimePoint now = my_gettime();
      if (produced) last_record = now;
      produced = false;
      if (timeout > 0 && elapsed_seconds(last_record, now) > timeout) {
        o.timed_out = true;
        break;
      }
      if (elapsed_seconds(last_probe, now) >= kProbeSeconds) {
        last_probe = now;
        if (!batch.empty() && !sink(batch)) {
          o.write_failed = true;
          return o;
        }
        batch.clear();
        if (probe && probe()) {
          o.aborted = true;
          break;
        }
      }
    }
    const StoreRecord& r = lookup->record();
    if (!q.time.passes(r.time_first, r.time_last)) continue;
    if (skipped < q.offset) {
      ++skipped;
      continue;
    }
    if (!cof.append_json(batch, r)) {
      o.unwritable = true;
      break;
    }
    ++o.records;
    produced = true;
    if (batch.size() >= kBatchBytes) {
      if (!sink(batch)) {
        o.write_failed = true;
        return o;
      }
      batch.clear();
    }
  }
  o.damaged = lookup->failed();
  if (!batch.empty() && !sink(batch)) o.write_failed = true;
  return o;
}

std::string decide_lookup_fin(const LookupOutcome& o, int* code, const char* abort_text) {
  const char* text = nullptr;
  if (o.damaged || o.unwritable || o.aborted) {
    *code = kStatusInternalError;
    text = o.damaged ? service_msg::kDamagedStore
           : o.unwritable ? service_msg::kUnwritableRecord
                          : abort_text;
  } else if (o.timed_out) {
    *code = kStatusTimedOut;
  } else {
    *code = o.records > 0 ? kStatusOk : kStatusNoResults;
  }
  return build_status_message(*code, text);
}

RecordFollower::RecordFollower(const query_request& request,
                               std::shared_ptr<const StoreSnapshot> stores, uint64_t limit)
    : request_(request), stores_(std::move(stores)), limit_(limit),
      cof_(std::make_unique<CofWriter>()) {
  // What every result's lookup shares; append sets only the key and its targets.
  query_.rrtype = request_.rrtype;
  query_.limit = limit_;
  TimeBounds& t = query_.time;
  t.first_before_set = request_.time_first_before_set;
  t.first_before = request_.time_first_before;
  t.first_after_set = request_.time_first_after_set;
  t.first_after = request_.time_first_after;
  t.last_before_set = request_.time_last_before_set;
  t.last_before = request_.time_last_before;
  t.last_after_set = request_.time_last_after_set;
  t.last_after = request_.time_last_after;
}

RecordFollower::~RecordFollower() = default;

bool RecordFollower::append(const result_entry& result, std::string& out) {
  query_.targets.clear();
  if (request_.scope == 0) {
    query_.kind = LookupKind::kName;
    query_.name = result.key;
  } else {
    if (!result.raw_rdata) return true;
    query_.kind = LookupKind::kValue;
    query_.text = result.key;
    const std::string raw(result.raw_rdata->begin(), result.raw_rdata->end());
    // One value of each type of the result; one raw value orders by type.
    for (const rrtype_summary& s : result.auxdata) {
      if (request_.rrtype == 0 || s.rrtype == request_.rrtype) query_.targets.push_back({raw, s.rrtype});
    }
    std::sort(query_.targets.begin(), query_.targets.end(),
              [](const ValueTarget& a, const ValueTarget& b) { return a.rrtype < b.rrtype; });
  }
  auto lookup = Lookup::start(stores_->stores, query_);
  for (; lookup->valid(); lookup->next()) {
    if (!cof_->append_json(out, lookup->record())) {
      error_ = service_msg::kUnwritableRecord;
      return false;
    }
    ++records_;
  }
  if (lookup->failed()) {
    error_ = service_msg::kDamagedStore;
    return false;
  }
  return true;
}

std::string LookupMetrics::render(const StoreSnapshot* stores) const {
  uint64_t files = 0, bytes = 0;
  if (stores != nullptr) {
    for (const RecordStore* s : stores->stores) {
      ++files;
      bytes += s->header().file_length;
    }
  }
  auto ull = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  return str_fmt(
      "# HELP quarn_lookups_total Record lookups answered.\n# TYPE quarn_lookups_total counter\n"
      "quarn_lookups_total %llu\n"
      "# HELP quarn_lookup_records_total Records streamed by lookups and with search results.\n"
      "# TYPE quarn_lookup_records_total counter\nquarn_lookup_records_total %llu\n"
      "# HELP quarn_record_store_files Loaded record store files.\n"
      "# TYPE quarn_record_store_files gauge\nquarn_record_store_files %llu\n"
      "# HELP quarn_record_store_bytes Bytes of the loaded record store files.\n"
      "# TYPE quarn_record_store_bytes gauge\nquarn_record_store_bytes %llu\n",
      ull(lookups_.load(std::memory_order_relaxed)), ull(records_.load(std::memory_order_relaxed)),
      ull(files), ull(bytes));
}

}  // namespace quarn
