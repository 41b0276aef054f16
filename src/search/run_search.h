// Running searches: one expression (run_search) or one per line of a stream
// (run_search_stream).
//
// run_search compiles the expression through a fresh search_context, opens a merger on
// the options' data source, and prints every result (text, raw or JSON form) to `out`
// until the result limit, the end of the results, or the timeout measured from the
// last printed result. The first period includes planning, compiling and opening the
// data source; a compile that outlasts it ends the search as timed out, with no
// results. Each search
// logs under its own prefix "search-<n>" (n counts searches from 1 in this process) and
// ends with the statistics report at level "stat". The output buffer is flushed before
// run_search returns, so a search's results are complete on the stream when it ends.
//
// Failures: run_search returns false for a pattern that does not compile, a data source
// with no index to search ("Error dispatching search: empty data source"), or output
// that could not be written; a search that times out is a success with fewer results.
// run_search_stream stops at the first failed search and returns false; at end of input
// it writes "EOF" to standard error and returns true.
#pragma once

#include <cstdio>
#include <string_view>

#include "search/search_options.h"

namespace quarn {

class OutputBuffer;

// Lines of standard input are read in pieces of at most this many bytes less one; a
// longer line becomes several expressions.
constexpr size_t kStdinLineBuffer = 4096;

bool run_search(const SearchOptions& options, std::string_view expression, OutputBuffer& out);

bool run_search_stream(const SearchOptions& options, FILE* in, OutputBuffer& out);

}  // namespace quarn
