// Captures the log lines written while it lives, in a pushed context at a chosen level.
#pragma once

#include <cstdio>
#include <string>

#include "common/log.h"

namespace quarn {

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

 private:
  FILE* file_;
};

}  // namespace quarn
