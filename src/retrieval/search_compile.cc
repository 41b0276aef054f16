// The compile steps of the search context: planning the expression into a trigram query
// and compiling the matcher, the optional exclusion pattern, and the table-scan filter. Kept apart from the
// filters so that code using only the filters and the deadline does not pull in the
// planner.
#include <utility>

#include "common/log.h"
#include "pattern/block_render.h"
#include "pattern/collapse.h"
#include "pattern/parse.h"
#include "pattern/render.h"
#include "planner/planner.h"
#include "retrieval/retrieval_messages.h"
#include "retrieval/search_context.h"

namespace quarn {

bool search_context::compile(std::string_view expression, bool glob, std::string* error) {
  std::string plan_error;
  std::string pattern;
  tgr_ptr query = plan_expression(expression, glob, &pattern, &plan_error);
  if (!query && !plan_error.empty()) {
    QLOG(LOG_DEBUG, retrieval_msg::kDecomposition, plan_error.c_str());
    if (error) *error = std::move(plan_error);
    return false;
  }
  query_ = std::move(query);
  pattern_text_ = std::move(pattern);
  scan_filter_planned_ = false;
  scan_filter_ = scan_filter{};
  block_matcher_.reset();

  std::string compile_error;
  if (!pattern_compile(pattern_text_, match_, compile_error)) {
    if (error) *error = std::move(compile_error);
    return false;
  }
  return true;
}

bool search_context::compile_exclusion(std::string_view expression, bool glob,
                                       std::string* error) {
  std::string parse_error;
  re_elem_ptr tree = glob ? glob_parse(expression, &parse_error)
                          : regex_parse(expression, &parse_error);
  if (!tree) {
    if (error) *error = std::move(parse_error);
    return false;
  }
  pattern_collapse(tree);
  exclusion_text_ = re_elem_to_string(*tree);
  std::string compile_error;
  if (!pattern_compile(exclusion_text_, exclude_, compile_error)) {
    if (error) *error = std::move(compile_error);
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
