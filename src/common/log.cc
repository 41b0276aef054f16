#include "common/log.h"

#include <strings.h>

#include <cstdarg>
#include <cstring>

#include "common/check.h"

namespace quarn {
namespace {

struct LogContext {
  FILE* stream = nullptr;
  int level = LOG_FAILURE;
  bool initialised = false;
  char prefix[kMaxLogPrefixName + 3] = {0};
};

const char* const kLevelNames[] = {"failure", "error", "info", "stat", "debug", "detail", "trace"};

LogContext g_process_context;
thread_local LogContext t_stack[kMaxLogDepth];
thread_local int t_depth = -1;

LogContext& process_context() {
  if (!g_process_context.initialised) {
    g_process_context.stream = stderr;
    setlinebuf(stderr);
    g_process_context.level = LOG_FAILURE;
    g_process_context.prefix[0] = '\0';
    g_process_context.initialised = true;
  }
  return g_process_context;
}

LogContext& current() { return t_depth < 0 ? process_context() : t_stack[t_depth]; }

}  // namespace

void log_push() {
  if (t_depth < 0) {
    t_stack[0] = process_context();
    t_depth = 0;
    return;
  }
  QUARN_CHECK(t_depth + 1 < kMaxLogDepth);
  t_stack[t_depth + 1] = t_stack[t_depth];
  ++t_depth;
}

void log_pop() {
  if (t_depth >= 0) --t_depth;
}

void log_set_prefix(const char* fmt, ...) {
  LogContext& ctx = current();
  char name[256];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(name, sizeof name, fmt, ap);
  va_end(ap);
  if (n <= 0) {
    ctx.prefix[0] = '\0';
    return;
  }
  size_t len = strnlen(name, kMaxLogPrefixName);
  std::memcpy(ctx.prefix, name, len);
  std::memcpy(ctx.prefix + len, ": ", 3);
}

void log_set_level(int level) {
  if (level >= LOG_FAILURE && level <= LOG_TRACE) current().level = level;
}

int log_get_level() { return current().level; }

void log_set_stream(FILE* stream) {
  setlinebuf(stream);
  current().stream = stream;
}

FILE* log_get_stream() { return current().stream; }

const char* log_get_prefix() { return current().prefix; }

const char* log_level_name(int level) {
  if (level < 0 || level > LOG_TRACE) return "<invalid>";
  return kLevelNames[level];
}

int log_parse_level(const char* name) {
  if (name == nullptr) return -1;
  for (int i = 0; i <= LOG_TRACE; ++i)
    if (strcasecmp(name, kLevelNames[i]) == 0) return i;
  return -1;
}

void log_write(int level, const char* fmt, ...) {
  LogContext& ctx = current();
  if (level > ctx.level) return;
  // Assemble the line first so that one call is one write, whole.
  char line[4096];
  size_t plen = strlen(ctx.prefix);
  std::memcpy(line, ctx.prefix, plen);
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(line + plen, sizeof line - plen - 1, fmt, ap);
  va_end(ap);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) < sizeof line - plen - 1) {
    size_t len = plen + static_cast<size_t>(n);
    line[len] = '\n';
    fwrite(line, 1, len + 1, ctx.stream);
    return;
  }
  // Long message: print it unshortened.
  fputs(ctx.prefix, ctx.stream);
  va_start(ap, fmt);
  vfprintf(ctx.stream, fmt, ap);
  va_end(ap);
  fputc('\n', ctx.stream);
}

}  // namespace quarn
