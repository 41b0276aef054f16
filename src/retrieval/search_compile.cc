// The compile steps of the search context: planning the expression into a trigram query
// and compiling the matcher, and the optional exclusion pattern. Kept apart from the
// filters so that code using only the filters and the deadline does not pull in the
// planner.
#include <utility>

#include "common/log.h"
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

}  // namespace quarn
