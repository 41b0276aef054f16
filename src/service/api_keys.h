// The API keys a service accepts, read from a keys file.
//
// File format: one key per line, optionally "name:key" (the name is what the access log
// shows; without one the key is called "key<line number>"); blank lines and lines
// starting with '#' are skipped, surrounding blanks trimmed. A line whose key is empty is
// an error, as is a file without any key (a service asked to check keys must not quietly
// accept everyone).
//
// find() compares the offered key with every key in constant time per key (no early exit
// on the first differing byte, every key compared), so response times do not tell how
// much of a guess was right. Loaded once, then only read: safe to share between threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class ApiKeys {
 public:
  // nullptr with *error set (the reason, without the file name) when the file cannot be
  // read or holds no usable key.
  static std::unique_ptr<ApiKeys> load(const std::string& path, std::string* error);
  static std::unique_ptr<ApiKeys> from_text(std::string_view text, std::string* error);

  // The name of the matching key, or nullptr.
  const std::string* find(std::string_view offered) const;
  size_t size() const { return keys_.size(); }

 private:
  struct Key {
    std::string name;
    std::string secret;
  };
  std::vector<Key> keys_;
};

// Compares a and b in time that depends only on their lengths.
bool constant_time_equal(std::string_view a, std::string_view b);

// The token of an "Authorization: Bearer TOKEN" header value, or empty.
std::string_view bearer_token(std::string_view header);

}  // namespace quarn
