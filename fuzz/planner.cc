// Fuzzes the whole planner: arbitrary expression bytes in both dialects (the first byte
// picks the dialect). Planning must never crash, leak or run away, and whatever query
// comes back must be well formed: no empty nodes or slots, ordinals in range.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/check.h"
#include "common/log.h"
#include "planner/planner.h"

namespace {

void check_tree(const quarn::tgr_result* n, int depth) {
  QUARN_CHECK(n != nullptr);
  QUARN_CHECK(depth < 10000);
  QUARN_CHECK(!n->empty());
  if (n->op == quarn::TGR_INTERSECT_TRIGRAMS) {
    for (uint32_t o : n->trigrams) QUARN_CHECK(o < quarn::kTrigramCount);
    return;
  }
  for (const auto& c : n->children) check_tree(c.get(), depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  quarn::log_set_level(quarn::LOG_FAILURE);
  const bool glob = data[0] & 1;
  std::string_view expr(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string pattern, error;
  quarn::tgr_ptr q = quarn::plan_expression(expr, glob, &pattern, &error);
  if (q) {
    QUARN_CHECK(error.empty());
    check_tree(q.get(), 0);
  }
  return 0;
}
