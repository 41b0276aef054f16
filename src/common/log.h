// Leveled logging shared by every program.
//
// One line per call: the current context's prefix, the formatted message and a line feed,
// written to the context's stream (standard error unless changed), and only when the
// message's level is at or below the context's level. Levels: 0 failure, 1 error, 2 info,
// 3 stat, 4 debug, 5 detail, 6 trace (lower is more important).
//
// Contexts: a process-wide context (initialised on first use: stderr, line buffered,
// level 0, empty prefix) plus a per-thread stack of kMaxLogDepth slots. Before the first
// push every call uses the process-wide context; log_push copies the current context
// into a new slot (inheriting stream, level and prefix) and log_pop returns to the
// previous one. Hold a LogScope to pair push and pop around a unit of work.
//
// Prefix: the formatted name cut to 37 characters, then ": "; an empty name gives an
// empty prefix with no colon.
#pragma once

#include <cstdio>

namespace quarn {

enum LogLevel : int {
  LOG_FAILURE = 0,
  LOG_ERROR = 1,
  LOG_INFO = 2,
  LOG_STAT = 3,
  LOG_DEBUG = 4,
  LOG_DETAIL = 5,
  LOG_TRACE = 6,
};

// Nesting deeper than this is a programming error (checked).
constexpr int kMaxLogDepth = 100;
// Longest formatted prefix name kept before ": " is appended.
constexpr int kMaxLogPrefixName = 37;

void log_push();
void log_pop();
void log_set_prefix(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Values 0-6 are stored; anything else is ignored.
void log_set_level(int level);
int log_get_level();
// Switches the stream to line buffering and makes it the current context's stream.
void log_set_stream(FILE* stream);
FILE* log_get_stream();
const char* log_get_prefix();
// "<invalid>" for values outside 0-6.
const char* log_level_name(int level);
// Case-insensitive name to value; -1 when unknown.
int log_parse_level(const char* name);

void log_write(int level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

inline bool log_enabled(int level) { return level <= log_get_level(); }

// Pushes a context on construction and pops it on destruction.
class LogScope {
 public:
  LogScope() { log_push(); }
  ~LogScope() { log_pop(); }
  LogScope(const LogScope&) = delete;
  LogScope& operator=(const LogScope&) = delete;
};

}  // namespace quarn

// Evaluates the arguments only when the level is enabled, so hot paths pay one compare.
#define QLOG(level, ...)                                              \
  do {                                                                \
    if (::quarn::log_enabled(level)) ::quarn::log_write(level, __VA_ARGS__); \
  } while (0)
