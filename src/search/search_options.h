// What one quarnsearch invocation asks of every search it runs.
//
// Filled by the command line (command_line.h), read by run_search (run_search.h). The
// data source is borrowed: the command line owns the fileset or index list behind it for
// the life of the program.
#pragma once

#include <cstdint>

namespace quarn {

class data_source;

// Results printed per search unless -L says otherwise.
constexpr uint64_t kDefaultResultLimit = 10000;

struct SearchOptions {
  data_source* source = nullptr;
  // Compared as an unsigned count, so -L -1 means "no practical limit".
  uint64_t limit = kDefaultResultLimit;
  bool glob = false;      // -g: the expression is a glob
  bool raw = false;       // -r: raw output
  bool json = false;      // -j: JSON output
  double timeout = 0;     // -t: seconds since the last result; 0 = none
  bool after_set = false;   // -A given
  bool before_set = false;  // -B given
  int64_t after = 0;        // seconds since 1970 UTC
  int64_t before = 0;
  bool complete = false;    // -c: records must lie wholly inside the -A/-B window
};

}  // namespace quarn
