#include "service/api_keys.h"

#include <fstream>
#include <sstream>

#include "common/strfmt.h"
#include "service/service_messages.h"

namespace quarn {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

bool constant_time_equal(std::string_view a, std::string_view b) {
  // Every byte of the longer text is visited; the length difference folds into the result.
  const size_t n = std::max(a.size(), b.size());
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= x ^ y;
  }
  // Keeps the compiler from turning the loop into an early-exit compare.
  volatile unsigned sink = diff;
  return sink == 0;
}

std::string_view bearer_token(std::string_view header) {
  header = trim(header);
  constexpr std::string_view kScheme = "Bearer ";
  if (header.size() <= kScheme.size()) return {};
  for (size_t i = 0; i < kScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(header[i])) !=
        std::tolower(static_cast<unsigned char>(kScheme[i])))
      return {};
  return trim(header.substr(kScheme.size()));
}

std::unique_ptr<ApiKeys> ApiKeys::from_text(std::string_view text, std::string* error) {
  auto keys = std::unique_ptr<ApiKeys>(new ApiKeys());
  size_t number = 0;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    Key k;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      k.name = std::string(trim(line.substr(0, colon)));
      line = trim(line.substr(colon + 1));
    }
    if (line.empty()) {
      *error = str_fmt(service_msg::kKeysBadLine, number);
      return nullptr;
    }
    if (k.name.empty()) k.name = str_fmt("key%zu", number);
    k.secret = std::string(line);
    keys->keys_.push_back(std::move(k));
  }
  if (keys->keys_.empty()) {
    *error = service_msg::kKeysEmpty;
    return nullptr;
  }
  return keys;
}

std::unique_ptr<ApiKeys> ApiKeys::load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = service_msg::kKeysUnreadable;
    return nullptr;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return from_text(text.str(), error);
}

const std::string* ApiKeys::find(std::string_view offered) const {
  const std::string* found = nullptr;
  for (const Key& k : keys_)
    if (constant_time_equal(offered, k.secret) && found == nullptr) found = &k.name;
  return found;
}

}  // namespace quarn
