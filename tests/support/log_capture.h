// Test helper: captures the log lines written while it is alive.
//
// Pushes its own log context (so the prefix, level and stream of the code under test
// come back when it goes), points the stream at a temporary file and sets the level.
// text() returns everything captured so far.
#pragma once

#include <cstdio>
#include <string>

#include "common/log.h"

namespace quarn::testing {

class LogCapture {
 public:
  explicit LogCapture(int level = LOG_TRACE) {
    log_push();
    file_ = std::tmpfile();
    log_set_stream(file_);
    log_set_level(level);
  }
  ~LogCapture() {
    log_pop();
    std::fclose(file_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text() {
    std::fflush(file_);
    std::string out;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    return out;
  }
  bool contains(const std::string& s) { return text().find(s) != std::string::npos; }

 private:
  FILE* file_;
};

}  // namespace quarn::testing
