// Helpers for tests that drive the real quarnsearch program: a scratch directory,
// index files written with the project's writer, and a process runner that captures the
// program's standard output, standard error and exit status.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/scratch_dir.h"

namespace quarn::test {

using TempDir = quarn::testing::ScratchDir;

struct TimeFence {
  bool set = false;
  uint32_t earliest = 0;
  uint32_t latest = 0;
};

// Writes an index file from string-table lines (key TAB annotation), which must already
// be in the kind's order (owner names are always checked; rdata lines only when
// check_rdata_order is set, for tests that write out-of-order files on purpose).
// Fails the current test on a writer error.
void write_index(const std::string& path, const std::vector<std::string>& lines, bool rdata,
                 TimeFence fence = {}, bool check_rdata_order = false);

void write_file(const std::string& path, const std::string& content);
std::string read_file(const std::string& path);

// build/bin/quarnsearch (from QUARN_BIN_DIR).
std::string quarnsearch_path();

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs quarnsearch with args, feeding stdin_text on standard input. Extra environment
// entries ("NAME=value") are added; QUARN_LOGLEVEL is cleared unless given.
RunResult run_quarnsearch(const std::vector<std::string>& args, const std::string& stdin_text = "",
                          const std::vector<std::string>& env = {});
// The same for any program, given by its path.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_text = "", const std::vector<std::string>& env = {});

// A quarnsearch process fed line by line through a pipe, for tests that must act between
// two searches (e.g. change a set file). Output goes to files read on demand.
class InteractiveRun {
 public:
  InteractiveRun(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
  ~InteractiveRun();
  InteractiveRun(const InteractiveRun&) = delete;
  InteractiveRun& operator=(const InteractiveRun&) = delete;

  void send_line(const std::string& line);
  // Waits (up to timeout_ms) until standard error contains `needle` at least `times`
  // times; true when it does.
  bool wait_for_err(const std::string& needle, int times, int timeout_ms);
  std::string err() const;
  std::string out() const;
  // Closes standard input and waits for the exit status.
  int finish();

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
};

// Number of non-overlapping occurrences of needle in haystack.
int count_occurrences(const std::string& haystack, const std::string& needle);

}  // namespace quarn::test
