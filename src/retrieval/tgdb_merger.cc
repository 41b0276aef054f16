#include "retrieval/tgdb_merger.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "common/log.h"
#include "index/line_source.h"
#include "index/mapping_guard.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_order.h"
#include "retrieval/retrieval_messages.h"
#include "retrieval/search_context.h"

namespace quarn {

namespace {

// Page size used for the pages_read statistic.
constexpr uint64_t kStatPageSize = 4096;

// Counts saturate instead of wrapping: a hostile index must not turn a large count into
// a small one.
inline uint64_t add_counts(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

inline void fold_into(rrtype_summary& into, uint64_t count, int64_t first, int64_t last) {
  into.count = add_counts(into.count, count);
  if (first < into.time_first) into.time_first = first;
  if (last > into.time_last) into.time_last = last;
}

inline std::string_view key_of(std::string_view line) {
  const size_t tab = line.find('\t');
  return tab == std::string_view::npos ? line : line.substr(0, tab);
}

inline std::string_view annotation_of(std::string_view line) {
  const size_t tab = line.find('\t');
  return tab == std::string_view::npos ? line : line.substr(tab + 1);
}

int compare_rdata_lines(std::string_view a, std::string_view b) {
  return rdata_line_compare(a, b);
}

// A fresh (empty) result: the spare one when there is one, else a new one.
std::unique_ptr<result_entry> take_entry(std::unique_ptr<result_entry>* spare) {
  if (spare == nullptr || !*spare) return std::make_unique<result_entry>();
  std::unique_ptr<result_entry> entry = std::move(*spare);
  entry->auxdata.clear();
  entry->raw_rdata.reset();
  entry->wildcard = false;
  entry->key.clear();
  return entry;
}

}  // namespace

bool rrname_keys_equal(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  // Labels joined by dots are equal label by label exactly when the texts are equal.
  const name_order_key x = name_order_split(a);
  const name_order_key y = name_order_split(b);
  if (x.name != y.name) return false;
  return !x.has_suffix || !y.has_suffix || x.suffix == y.suffix;
}

namespace {

// The merge functions on a line already split at its first tab (the annotation is the
// whole line when it has no tab), so the merger does not search each line again.
void merge_rrname_split(std::unique_ptr<result_entry>& result, std::string_view key,
                        std::string_view annotation, std::unique_ptr<result_entry>* spare) {
  // Reused across calls: merging runs once per confirmed line and should not allocate.
  thread_local std::vector<rrtype_summary> parsed;
  if (parse_rrname_annotation(annotation, &parsed) == 0) return;

  if (!result) {
    result = take_entry(spare);
    result->key.assign(key);
  }
  if (result->auxdata.empty()) {
    result->auxdata.assign(parsed.begin(), parsed.end());
    return;
  }
  for (const rrtype_summary& el : parsed) {
    bool found = false;
    for (rrtype_summary& have : result->auxdata) {
      if (have.rrtype == el.rrtype) {
        fold_into(have, el.count, el.time_first, el.time_last);
        found = true;
        break;
      }
    }
    if (!found) result->auxdata.push_back(el);
  }
}

void merge_rdata_split(std::unique_ptr<result_entry>& result, std::string_view key,
                       std::string_view annotation, std::unique_ptr<result_entry>* spare) {
  rdata_annotation parsed;
  if (!result || !result->raw_rdata) {
    std::vector<uint8_t> raw;
    if (!parse_raw_rdata(annotation, &raw)) return;
    if (!parse_rdata_annotation(annotation, &parsed)) return;
    if (!result) {
      result = take_entry(spare);
      result->key.assign(key);
    }
    result->raw_rdata = std::move(raw);
  } else if (!parse_rdata_annotation(annotation, &parsed)) {
    return;
  }

  if (result->auxdata.empty()) {
    result->auxdata.push_back(rrtype_summary{parsed.rrtype, parsed.count, parsed.time_first,
                                             parsed.time_last});
    result->wildcard = parsed.rrtype == kWildcardRrtype;
    return;
  }
  // The rdata order only calls lines of one type equal, except when it cannot parse
  // them; such a line must not be folded into a record of another type.
  rrtype_summary& have = result->auxdata.front();
  if (have.rrtype != parsed.rrtype) return;
  fold_into(have, parsed.count, parsed.time_first, parsed.time_last);
}

}  // namespace

void merge_rrname(std::unique_ptr<result_entry>& result, std::string_view line,
                  std::unique_ptr<result_entry>* spare) {
  merge_rrname_split(result, key_of(line), annotation_of(line), spare);
}

void merge_rdata(std::unique_ptr<result_entry>& result, std::string_view line,
                 std::unique_ptr<result_entry>* spare) {
  merge_rdata_split(result, key_of(line), annotation_of(line), spare);
}

bool result_filter(const search_context& context, result_entry* result) {
  if (result == nullptr) return false;
  size_t kept = 0;
  for (size_t i = 0; i < result->auxdata.size(); ++i) {
    rrtype_summary el = result->auxdata[i];
    if (el.time_last == 0) el.time_last = el.time_first;
    if (!context.rrtype_passes(el.rrtype) || !context.record_passes(el.time_first, el.time_last))
      continue;
    if (el.count == 0) el.count = 1;
    if (context.count_passes(el.count)) result->auxdata[kept++] = el;
  }
  if (kept == 0) return false;
  result->auxdata.resize(kept);
  return true;
}

void tgdb_merger::line_ref::assign(const char* line, size_t length) {
  text = std::string_view(line, length);
  const void* tab = std::memchr(line, '\t', length);
  key_length = tab ? static_cast<size_t>(static_cast<const char*>(tab) - line) : length;
  key_has_blank = std::memchr(line, ' ', key_length) != nullptr;
}

struct tgdb_merger::merger_source {
  line_ref key;  // the current candidate line
  std::unique_ptr<line_source> lines;
  uint64_t last_page = 0;
};

int tgdb_merger::source_order::operator()(const std::unique_ptr<merger_source>& a,
                                          const std::unique_ptr<merger_source>& b) const {
  return compare(a->key.text, b->key.text);
}

tgdb_merger::tgdb_merger(search_context& context, bool is_rdata)
    : context_(context),
      is_rdata_(is_rdata),
      compare_(is_rdata ? &compare_rdata_lines : &name_order),
      heap_(source_order{compare_}) {
  faults_seen_ = mapping_guard_fault_count();
}

bool tgdb_merger::index_changed(const Tgdb& index) {
  if (!index.changed_in_place()) return false;
  QLOG(LOG_ERROR, retrieval_msg::kIndexChangedInSearch, index.path().c_str());
  failed_ = done_ = true;
  return true;
}

bool tgdb_merger::pages_intact() {
  // One load answers for every search that had no truncation anywhere in the process.
  if (mapping_guard_fault_count() == faults_seen_) return true;
  faults_seen_ = mapping_guard_fault_count();
  bool intact = true;
  for (const TgdbRef& index : searched_)
    if (index->pages_lost() && index_changed(*index)) intact = false;
  return intact;
}

bool tgdb_merger::indexes_unchanged() {
  bool unchanged = true;
  for (const TgdbRef& index : searched_)
    if (index_changed(*index)) unchanged = false;
  return unchanged;
}

tgdb_merger::~tgdb_merger() = default;

bool tgdb_merger::same_key(const line_ref& a, const line_ref& b) const {
  if (is_rdata_) return rdata_line_compare(a.text, b.text) == 0;
  // Keys without blanks have neither suffix nor trailing blank: equal names are equal
  // texts. (An empty line is not the same as a line with an empty key.)
  if (!a.key_has_blank && !b.key_has_blank && !a.text.empty() && !b.text.empty())
    return a.key() == b.key();
  return rrname_keys_equal(a.text, b.text);
}

void tgdb_merger::merge_line(std::unique_ptr<result_entry>& result, const line_ref& line) {
  const std::string_view text = line.text;
  const std::string_view key = line.key();
  const std::string_view annotation =
      line.key_length < text.size() ? text.substr(line.key_length + 1) : text;
  if (is_rdata_)
    merge_rdata_split(result, key, annotation, &spare_);
  else
    merge_rrname_split(result, key, annotation, &spare_);
}

void tgdb_merger::count_line(merger_source& source, const char* line, size_t length) {
  SearchStats& c = context_.counters();
  c.bytes_read += length + 1;
  const uint64_t p = reinterpret_cast<uintptr_t>(line);
  const uint64_t start = p / kStatPageSize;
  const uint64_t end = (p + length + 1) / kStatPageSize;
  c.pages_read += end - start + (start > source.last_page ? 1 : 0);
  source.last_page = end;
}

void tgdb_merger::add_index(Tgdb* index, const LineRange* range) {
  if (index == nullptr || index->is_rdata() != is_rdata_ || done_) return;
  const LineRange lines_of = range != nullptr ? *range : whole_table(*index);
  if (index->has_timefence()) {
    const int64_t earliest = index->earliest_seen();
    const int64_t latest = index->latest_seen();
    // A fence of 0 is a real time here (records may carry time 0), so whether any fence
    // was seen is kept apart from the values.
    if (!fence_seen_ || earliest_ > earliest) earliest_ = earliest;
    if (!fence_seen_ || latest_ < latest) latest_ = latest;
    fence_seen_ = true;
    if (!context_.index_may_match(earliest, latest)) {
      QLOG(LOG_DEBUG, retrieval_msg::kSkipTimeFilter, index->path().c_str());
      searched_.push_back(TgdbRef::share(index));
      skipped_.emplace_back(lines_of.begin, static_cast<uint64_t>(lines_of.stop - lines_of.begin),
                            compare_);
      return;
    }
  } else {
    unfenced_index_ = true;
  }
  QLOG(LOG_DETAIL, retrieval_msg::kAddingToMerger, index->path().c_str());
  searched_.push_back(TgdbRef::share(index));

  try {
    bool error = false;
    std::unique_ptr<line_source> lines = line_source::create(index, context_, &error, &lines_of);
    if (!lines) {
      if (error)
        QLOG(LOG_ERROR, "%s", retrieval_msg::kTrackerInitFailed);
      else
        QLOG(LOG_DEBUG, "%s", retrieval_msg::kNoPossibleAnswers);
      return;
    }
    if (error) return;
    const char* line;
    size_t length;
    if (!lines->next(&line, &length)) {
      note_damage(*lines);
      return;
    }
    auto source = std::make_unique<merger_source>();
    source->key.assign(line, length);
    source->lines = std::move(lines);
    count_line(*source, line, length);
    heap_.push(std::move(source));
    ++sources_added_;
  } catch (const search_aborted&) {
    done_ = true;
  }
}

void tgdb_merger::note_damage(const line_source& lines) {
  if (!lines.damaged()) return;
  failed_ = true;
  done_ = true;
}

void tgdb_merger::merge_skipped(std::unique_ptr<result_entry>& result) {
  const std::string_view key = current_key_.text;
  SearchStats& c = context_.counters();
  line_ref line;
  for (key_cursor& cursor : skipped_) {
    std::string_view text;
    for (bool more = cursor.seek(key, &text); more; more = cursor.next_equal(key, &text)) {
      line.assign(text.data(), text.size());
      c.bytes_read += text.size() + 1;
      merge_line(result, line);
    }
  }
}

void tgdb_merger::advance() {
  merger_source& top = **heap_.peek();
  const char* line;
  size_t length;
  if (!top.lines->next(&line, &length)) {
    note_damage(*top.lines);
    // Retired rather than freed: the current key may still be a line of its index.
    if (std::optional<std::unique_ptr<merger_source>> gone = heap_.pop())
      retired_.push_back(std::move(*gone));
    return;
  }
  top.key.assign(line, length);
  count_line(top, line, length);
  heap_.siftup(0);
}

std::unique_ptr<result_entry> tgdb_merger::next() {
  if (done_) return nullptr;
  // The shortcuts hold only when every searched index states its time range.
  if (fence_seen_ && !unfenced_index_) {
    if (context_.time_first_after_set() && context_.time_first_after() > latest_) {
      QLOG(LOG_DEBUG, "%s", retrieval_msg::kFirstAfterOutOfRange);
      done_ = true;
      return nullptr;
    }
    if (context_.time_last_before_set() && context_.time_last_before() < earliest_) {
      QLOG(LOG_DEBUG, "%s", retrieval_msg::kLastBeforeOutOfRange);
      done_ = true;
      return nullptr;
    }
  }
  try {
    return next_inner();
  } catch (const search_aborted&) {
    // Only the result being assembled is lost; the search is over.
    done_ = true;
    return nullptr;
  }
}

std::unique_ptr<result_entry> tgdb_merger::next_inner() {
  context_.reset_counters();
  std::unique_ptr<result_entry> result;
  bool skip = false;
  // The key being assembled passed the matcher: its lines in skipped indexes belong to it.
  bool matched = false;

  while (!heap_.empty()) {
    merger_source& top = **heap_.peek();
    bool new_key = false;
    if (!have_current_key_) {
      current_key_ = top.key;
      have_current_key_ = true;
    } else if (!same_key(current_key_, top.key)) {
      if (matched && !skipped_.empty()) merge_skipped(result);
      if (!pages_intact()) break;
      if (result_filter(context_, result.get())) {
        current_key_ = top.key;  // top stays on the heap and opens the next call
        return result;
      }
      if (result) spare_ = std::move(result);
      current_key_ = top.key;
      new_key = true;
      matched = false;
    }
    const line_ref& line = new_key ? current_key_ : top.key;

    if (!new_key && skip) {
      // The key was rejected: its remaining lines are not looked at again.
    } else if (!new_key && result) {
      merge_line(result, line);
    } else {
      // A key not yet confirmed in this call: match it once.
      ++context_.counters().trigram_matches;
      if (top.lines->confirmed() ? context_.match_confirmed(line.text.data(), line.key_length)
                                 : context_.match(line.text.data(), line.key_length)) {
        context_.note_pattern_match();
        merge_line(result, line);
        skip = false;
        matched = true;
      } else {
        skip = true;
      }
    }
    advance();
    if (failed_) break;
  }

  if (!failed_ && matched && !skipped_.empty()) merge_skipped(result);
  if (!failed_ && pages_intact() && result_filter(context_, result.get())) return result;
  if (result) spare_ = std::move(result);
  return nullptr;
}

}  // namespace quarn
