#include "forge/reject_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/strfmt.h"

namespace quarn {

void append_reject_escaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(c);
    }
  }
}

std::unique_ptr<RejectLog> RejectLog::create(const std::string& path, std::string* error) {
  FILE* f = fopen(path.c_str(), "wbx");
  if (f == nullptr) {
    *error = str_fmt(kRejectErrCreate, path.c_str(), strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<RejectLog>(new RejectLog(path, f));
}

RejectLog::~RejectLog() {
  if (file_ != nullptr) fclose(file_);
}

bool RejectLog::fail(std::string* error) {
  *error = str_fmt(kRejectErrWrite, path_.c_str(), strerror(errno ? errno : EIO));
  return false;
}

bool RejectLog::add(std::string_view input, uint64_t line_number, std::string_view reason,
                    std::string_view line, std::string* error) {
  record_.clear();
  append_reject_escaped(record_, input);
  record_ += '\t';
  record_ += std::to_string(line_number);
  record_ += '\t';
  record_ += reason;
  record_ += '\t';
  append_reject_escaped(record_, line);
  record_ += '\n';
  errno = 0;
  if (fwrite(record_.data(), 1, record_.size(), file_) != record_.size()) return fail(error);
  return true;
}

bool RejectLog::finish(std::string* error) {
  errno = 0;
  const bool ok = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
  const bool closed = fclose(file_) == 0;
  file_ = nullptr;
  return ok && closed ? true : fail(error);
}

}  // namespace quarn
