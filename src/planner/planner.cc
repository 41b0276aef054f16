#include "planner/planner.h"

#include <string>

#include "common/log.h"
#include "common/strfmt.h"
#include "pattern/collapse.h"
#include "pattern/parse.h"
#include "pattern/render.h"
#include "planner/fixup.h"
#include "planner/messages.h"
#include "planner/reduce.h"
#include "planner/trigramize.h"

namespace quarn {

namespace msg = planner_msg;

namespace {

// Parses in the chosen dialect; on failure logs the error and gives it in `error`.
re_elem_ptr parse_expression(std::string_view expression, bool glob, const char* kind,
                             std::string& error) {
  re_elem_ptr tree = glob ? glob_parse(expression, &error) : regex_parse(expression, &error);
  if (tree) return tree;
  if (!error.empty()) {
    QLOG(LOG_DEBUG, msg::kParseError, kind, error.c_str());
  } else {
    QLOG(LOG_DEBUG, msg::kParseUnknown, kind);
    // A failed parse must fail the search: without a text the caller would read the
    // result as a table scan with no pattern to confirm candidates.
    error = str_fmt(msg::kParseUnknown, kind);
  }
  return nullptr;
}

// Reduction, fixup and trigram generation; consumes the tree. A null query with an
// empty `stage_error` means no trigram filter.
tgr_ptr generate_query(re_elem_ptr tree, bool trace, std::string& stage_error) {
  tree = reduce_permutations(std::move(tree));
  if (!tree) {
    stage_error = msg::kReductionError;
    return nullptr;
  }
  if (!fixup_tree(tree, nullptr)) {
    stage_error = msg::kFixupError;
    return nullptr;
  }
  if (trace) {
    re_elem_print(tree.get(), 0);
    QLOG(LOG_TRACE, "%s", msg::kEndFixup);
  }
  std::string gen_error;
  tgr_ptr query = trigramize(*tree, &gen_error);
  if (!query && !gen_error.empty()) {
    QLOG(LOG_DEBUG, msg::kTrigramError, gen_error.c_str());
    stage_error = gen_error;
  }
  return query;
}

void log_pre_optimised(const tgr_result* query, const std::string& stage_error, bool trace) {
  if (!query) {
    if (!stage_error.empty() &&
        (stage_error == msg::kReductionError || stage_error == msg::kFixupError))
      QLOG(LOG_DEBUG, "%s", stage_error.c_str());
    if (trace) {
      QLOG(LOG_TRACE, "%s", msg::kPreOptimized);
      QLOG(LOG_TRACE, "%s", msg::kNoFilter);
      QLOG(LOG_TRACE, "%s", "");
    }
  } else if (trace) {
    QLOG(LOG_TRACE, "%s", msg::kPreOptimized);
    tgr_print(query, 0);
    QLOG(LOG_TRACE, "%s", "");
  }
}

void log_final(const tgr_result* query, const std::string& expr) {
  if (log_enabled(LOG_DEBUG)) {
    QLOG(LOG_DEBUG, "%s", msg::kFinalResult);
    if (query)
      tgr_print(query, 0);
    else
      QLOG(LOG_DEBUG, "%s", msg::kNoFilter);
    QLOG(LOG_DEBUG, "%s", "");
  }
  if (!query) QLOG(LOG_DEBUG, msg::kTableScan, expr.c_str());
}

}  // namespace

tgr_ptr plan_expression(std::string_view expression, bool glob, std::string* pattern_text,
                        std::string* error) {
  if (error) error->clear();
  if (pattern_text) pattern_text->clear();
  const char* kind = glob ? "glob" : "regex";
  const std::string expr(expression);

  std::string parse_error;
  re_elem_ptr tree = parse_expression(expression, glob, kind, parse_error);
  if (!tree) {
    if (error) *error = parse_error;
    return nullptr;
  }

  // The planner and the matcher both work on the collapsed tree.
  pattern_collapse(tree);

  const bool trace = log_enabled(LOG_TRACE);
  if (trace) {
    QLOG(LOG_TRACE, "%s", msg::kStartDebug);
    re_elem_print(tree.get(), 0);
    QLOG(LOG_TRACE, "%s", msg::kEndOrig);
  }

  std::string rendered;
  if (pattern_text) {
    rendered = re_elem_to_string(*tree);
    if (rendered != expr)
      QLOG(glob ? LOG_DEBUG : LOG_INFO, msg::kConverted, expr.c_str(), rendered.c_str());
  }

  std::string stage_error;
  tgr_ptr query = generate_query(std::move(tree), trace, stage_error);
  log_pre_optimised(query.get(), stage_error, trace);

  if (error) *error = stage_error;
  query = tgr_remove_redundant(std::move(query));
  if (pattern_text) *pattern_text = std::move(rendered);
  log_final(query.get(), expr);
  return query;
}

}  // namespace quarn
