// Feeds arbitrary bytes to the query message parser. Every input must either give a
// request within its documented bounds or a status message that is itself valid JSON
// carrying a code and a text.
#include <yajl/yajl_tree.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/log.h"
#include "output/query_message.h"

using namespace quarn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    log_set_level(LOG_FAILURE);  // parser errors are expected here; keep the run readable
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  bool strict = data[0] & 1;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  query_request req;
  std::optional<std::string> fin = parse_query_message(text, req, strict);
  if (!fin) {
    if (req.value.size() > kQueryMaxValue || req.search_what.size() > kQueryMaxSearchWhat ||
        req.limit == 0 || req.scope < 0 || req.scope > 1) {
      std::abort();
    }
    return 0;
  }
  char err[256];
  yajl_val tree = yajl_tree_parse(fin->c_str(), err, sizeof err);
  const char* code_path[] = {"fin", nullptr};
  const char* msg_path[] = {"msg", nullptr};
  if (tree == nullptr || !YAJL_IS_INTEGER(yajl_tree_get(tree, code_path, yajl_t_number)) ||
      !YAJL_IS_STRING(yajl_tree_get(tree, msg_path, yajl_t_string))) {
    std::abort();
  }
  yajl_tree_free(tree);
  return 0;
}
