// How heavy a prepared search is, decided before it asks the search gate for a worker
// (service/search_gate.h), from its trigram query and the sizes of the reference lists
// of the scope's loaded indexes: nothing is read but the trigram tables.
//
// Heavy: the query reads a whole string table in some index (no trigram filter, or lists
// admitting most of its lines), or its candidate lines summed over the indexes exceed
// kHeavyCandidates. Everything else is light. A search's limit is not taken into
// account: a rare pattern among many candidates costs their confirmation whatever its
// limit. Stateless and thread-safe; the caller keeps the indexes loaded while it asks.
#pragma once

#include <vector>

#include "index/tgdb.h"
#include "service/search_gate.h"

namespace quarn {

struct tgr_result;

// Candidate lines above which a search is heavy. A candidate costs about half a
// microsecond to confirm and a result about a microsecond to write, so 50,000 is tens of
// milliseconds of a worker: an order of magnitude beyond a selective search (about
// 3,000 candidates for a literal of twelve trigrams at 10 million names) and well
// below a broad one (hundreds of thousands).
constexpr double kHeavyCandidates = 50000;

SearchGate::Kind search_weight(const tgr_result* query, const std::vector<TgdbRef>& indexes);

}  // namespace quarn
