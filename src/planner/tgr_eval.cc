#include "planner/tgr_eval.h"

namespace quarn {

bool tgr_satisfied_by(const tgr_result* query, const TrigramBitmap& trigrams) {
  if (!query) return true;
  switch (query->op) {
    case TGR_INTERSECT_TRIGRAMS:
      for (uint32_t o : query->trigrams)
        if (!trigrams.test(o)) return false;
      return true;
    case TGR_INTERSECT_CHILDREN:
      for (const auto& c : query->children)
        if (!tgr_satisfied_by(c.get(), trigrams)) return false;
      return true;
    case TGR_UNION:
      if (query->children.empty()) return true;
      for (const auto& c : query->children)
        if (tgr_satisfied_by(c.get(), trigrams)) return true;
      return false;
  }
  return true;
}

bool tgr_matches_text(const tgr_result* query, std::string_view text) {
  if (!query) return true;
  TrigramBitmap set;
  set.add_padded_text(text);
  return tgr_satisfied_by(query, set);
}

}  // namespace quarn
