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
// with no index to search ("Error dispatching search: empty data source"), an index
// whose line index turned out damaged during the search or that was written in place
// while it was searched, or output that could not be
// written; a search that times out is a success with fewer results.
// run_search_stream takes each line of the stream, cut at its first carriage return or
// line feed, as one expression and skips empty ones. A line whose expression is longer
// than kMaxStdinLine bytes or holds a NUL byte is a bad expression: it is reported and
// fails like a pattern that does not compile. The stream stops at the first failed
// search and returns false; at end of input it writes "EOF" to standard error and
// returns true.
#pragma once

#include <cstdio>
#include <string_view>

#include "search/search_options.h"

namespace quarn {

class OutputBuffer;

// Longest expression a line of standard input may hold. Queries come from people and
// scripts, not from data files; a longer line is almost certainly not meant as one
// search. The text of search_msg::kLineTooLong states this number.
constexpr size_t kMaxStdinLine = 4095;

bool run_search(const SearchOptions& options, std::string_view expression, OutputBuffer& out);

bool run_search_stream(const SearchOptions& options, FILE* in, OutputBuffer& out);

}  // namespace quarn
