// Captures the log lines written while it is alive, in its own pushed log context.
#pragma once

#include <cstdio>
#include <string>

#include "common/log.h"

namespace quarn::testing {

class log_capture {
 public:
  explicit log_capture(int level) {
    log_push();
    file_ = std::tmpfile();
    log_set_stream(file_);
    log_set_level(level);
  }
  ~log_capture() {
    log_pop();
    std::fclose(file_);
  }
  log_capture(const log_capture&) = delete;
  log_capture& operator=(const log_capture&) = delete;

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

}  // namespace quarn::testing
