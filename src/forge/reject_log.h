// The rejects file of a build: every rejected input line, so that a user can see and
// fix all of them (standard error shows only the first few).
//
// One line per rejected input line, four fields separated by tabs:
//   input name <TAB> line number <TAB> reason <TAB> the line as read
// In the name and the line, a backslash, tab, line feed or carriage return is written
// as \\, \t, \n or \r, so that each record stays one line of four fields; the reason
// texts hold none of them. A line that was too long appears cut at kMaxInputLine.
//
// Order of use: create() the file under the name the caller publishes later, add() per
// rejected line, finish(). The caller owns the path (publish.h, temp_files.h): this
// class only writes it. Every failure returns false with the reason in *error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace quarn {

inline constexpr const char* kRejectErrCreate = "cannot create rejects file %s: %s";
inline constexpr const char* kRejectErrWrite = "cannot write rejects file %s: %s";

class RejectLog {
 public:
  static std::unique_ptr<RejectLog> create(const std::string& path, std::string* error);
  ~RejectLog();
  RejectLog(const RejectLog&) = delete;
  RejectLog& operator=(const RejectLog&) = delete;

  bool add(std::string_view input, uint64_t line_number, std::string_view reason,
           std::string_view line, std::string* error);
  // Flushes and closes the file.
  bool finish(std::string* error);

 private:
  RejectLog(std::string path, FILE* file) : path_(std::move(path)), file_(file) {}
  bool fail(std::string* error);

  std::string path_;
  FILE* file_;
  std::string record_;  // reused between lines
};

// Appends text with backslash, tab, line feed and carriage return escaped.
void append_reject_escaped(std::string& out, std::string_view text);

}  // namespace quarn
