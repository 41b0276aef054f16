// The compile steps of the search context: planning the expression into a trigram query
// and compiling the matcher (as a prepared expression that other searches may share),
// the optional exclusion pattern, and the table-scan filter. Kept apart from the
// filters so that code using only the filters and the deadline does not pull in the
// planner.
#include <utility>

#include "common/log.h"
#include "common/my_time.h"
#include "pattern/block_render.h"
#include "pattern/collapse.h"
#include "pattern/name_subtree.h"
#include "pattern/parse.h"
#include "pattern/matcher.h"
#include "pattern/render.h"
#include "planner/planner.h"
#include "retrieval/prepared_expression.h"
#include "retrieval/retrieval_messages.h"
#include "retrieval/search_context.h"

namespace quarn {

namespace {

// Bytes held by a query tree, roughly: nodes and their lists.
size_t tree_bytes(const tgr_result* node) {
  if (node == nullptr) return 0;
  size_t bytes = sizeof(tgr_result) + node->trigrams.capacity() * sizeof(uint32_t) +
                 node->children.capacity() * sizeof(tgr_ptr);
  for (const tgr_ptr& child : node->children) bytes += tree_bytes(child.get());
  return bytes;
}

// Compiles the prepared expression's pattern text into its database; false (with the
// message) when the matcher refuses it.
bool compile_matcher(prepared_expression& e, const TimePoint& from, std::string* error) {
  compiled_pattern matcher;
  std::string compile_error;
  const bool ok = pattern_compile(e.pattern_text, matcher, compile_error);
  e.compile_seconds = elapsed_seconds(from, my_gettime());
  if (!ok) {
    if (error) *error = std::move(compile_error);
    return false;
  }
  e.database = matcher.database();
  e.bytes += matcher.database_bytes() + e.pattern_text.size() + sizeof(prepared_expression);
  return true;
}

}  // namespace

std::shared_ptr<const prepared_expression> prepare_expression(std::string_view expression,
                                                              bool glob, std::string* error) {
  const TimePoint start = my_gettime();
  auto e = std::make_shared<prepared_expression>();
  std::string plan_error;
  tgr_ptr query = plan_expression(expression, glob, &e->pattern_text, &plan_error);
  if (!query && !plan_error.empty()) {
    QLOG(LOG_DEBUG, retrieval_msg::kDecomposition, plan_error.c_str());
    if (error) *error = std::move(plan_error);
    return nullptr;
  }
  e->bytes = tree_bytes(query.get());
  e->query = std::move(query);
  const TimePoint planned = my_gettime();
  e->plan_seconds = elapsed_seconds(start, planned);
  if (!compile_matcher(*e, planned, error)) return nullptr;
  return e;
}

std::shared_ptr<const prepared_expression> prepare_exclusion(std::string_view expression,
                                                             bool glob, std::string* error) {
  const TimePoint start = my_gettime();
  std::string parse_error;
  re_elem_ptr tree = glob ? glob_parse(expression, &parse_error)
                          : regex_parse(expression, &parse_error);
  if (!tree) {
    if (error) *error = std::move(parse_error);
    return nullptr;
  }
  pattern_collapse(tree);
  auto e = std::make_shared<prepared_expression>();
  e->pattern_text = re_elem_to_string(*tree);
  const TimePoint planned = my_gettime();
  e->plan_seconds = elapsed_seconds(start, planned);
  if (!compile_matcher(*e, planned, error)) return nullptr;
  return e;
}

bool search_context::compile(std::string_view expression, bool glob, std::string* error) {
  std::shared_ptr<const prepared_expression> e = prepare_expression(expression, glob, error);
  return e && install(*e, error);
}

bool search_context::install(const prepared_expression& e, std::string* error) {
  query_ = e.query;
  pattern_text_ = e.pattern_text;
  scan_filter_planned_ = false;
  scan_filter_ = scan_filter{};
  block_matcher_.reset();
  has_subtree_ = false;
  std::string scratch_error;
  if (!match_.adopt(e.database, scratch_error)) {
    if (error) *error = std::move(scratch_error);
    return false;
  }
  // Derived from the matcher's own text, so the subtree is required by exactly what
  // confirms the lines (a text that does not parse back only costs the shortcut).
  if (re_elem_ptr tree = regex_parse(pattern_text_, nullptr))
    has_subtree_ = required_name_subtree(*tree, &subtree_);
  return true;
}

bool search_context::compile_exclusion(std::string_view expression, bool glob,
                                       std::string* error) {
  std::shared_ptr<const prepared_expression> e = prepare_exclusion(expression, glob, error);
  return e && install_exclusion(*e, error);
}

bool search_context::install_exclusion(const prepared_expression& e, std::string* error) {
  exclusion_text_ = e.pattern_text;
  std::string scratch_error;
  if (!exclude_.adopt(e.database, scratch_error)) {
    if (error) *error = std::move(scratch_error);
    return false;
  }
  return true;
}

scan_filter search_context::prepare_table_scan() {
  if (!scan_filter_planned_) {
    scan_filter_planned_ = true;
    plan_scan_filter();
  }
  return scan_filter_;
}

void search_context::share_table_scan(search_context& planned) {
  const scan_filter theirs = planned.prepare_table_scan();
  if (theirs.kind == scan_filter::blocks) {
    auto matcher = std::make_unique<block_matcher>();
    std::string error;
    if (theirs.matcher == nullptr || !matcher->share(*theirs.matcher, error)) return;
    block_matcher_ = std::move(matcher);
    scan_filter_ = scan_filter{scan_filter::blocks, block_matcher_.get()};
  } else {
    scan_filter_ = theirs;
  }
  scan_filter_planned_ = true;
}

void search_context::plan_scan_filter() {
  // Without a ready matcher match() has its own answers (everything, or nothing), which
  // the scan leaves to it.
  if (!match_.ready()) return;
  // The matcher's text is a rendering of the planned tree, so it parses back into an
  // equivalent one (a rewritten tree's \xHH bytes do not: such patterns scan per line).
  re_elem_ptr tree = regex_parse(pattern_text_, nullptr);
  if (!tree) return;
  if (matches_every_key(*tree)) {
    scan_filter_.kind = scan_filter::every_key;
    return;
  }
  auto matcher = std::make_unique<block_matcher>();
  std::string reason;
  if (!matcher->compile(*tree, reason)) {
    QLOG(LOG_DEBUG, retrieval_msg::kNoBlockScan, pattern_text_.c_str(), reason.c_str());
    return;
  }
  block_matcher_ = std::move(matcher);
  scan_filter_ = scan_filter{scan_filter::blocks, block_matcher_.get()};
}

}  // namespace quarn
