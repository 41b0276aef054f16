#include "service/search_weight.h"

#include "index/line_source.h"

namespace quarn {

SearchGate::Kind search_weight(const tgr_result* query, const std::vector<TgdbRef>& indexes) {
  double candidates = 0;
  for (const TgdbRef& index : indexes) {
    if (query_scans_table(*index, query)) return SearchGate::Kind::kHeavy;
    candidates += query_candidate_estimate(*index, *query);
  }
  return candidates > kHeavyCandidates ? SearchGate::Kind::kHeavy : SearchGate::Kind::kLight;
}

}  // namespace quarn
