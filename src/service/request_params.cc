#include "service/request_params.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "output/status_message.h"

namespace quarn {
namespace {

constexpr const char* kStringFields[] = {"search_method", "search_what", "return_what",
                                         "value", "rrtype", "exclude"};
constexpr const char* kNumberFields[] = {"limit", "offset", "time_first_before",
                                         "time_first_after", "time_last_before",
                                         "time_last_after"};

// Appends s as a JSON string. Bytes outside ASCII become \u00XX: the expression parsers
// refuse them anyway, with their own positioned message, and the JSON parser would
// refuse a text that is not UTF-8 as a whole.
void append_json_string(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  out += '"';
}

void append_key(std::string& out, const char* key, bool& first) {
  if (!first) out += ',';
  first = false;
  append_json_string(out, key);
  out += ':';
}

}  // namespace

const std::string* first_param(const UrlParams& params, const char* key) {
  auto it = params.find(key);
  return it == params.end() ? nullptr : &it->second;
}

bool read_integer_param(const std::string& text, int64_t* out) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

bool params_to_message(const UrlParams& params, std::string* message, std::string* fin) {
  std::string out = "{\"query\":{";
  bool first = true;
  for (const char* key : kStringFields) {
    const std::string* v = first_param(params, key);
    if (v == nullptr) continue;
    append_key(out, key, first);
    append_json_string(out, *v);
  }
  for (const char* key : kNumberFields) {
    const std::string* v = first_param(params, key);
    if (v == nullptr) continue;
    int64_t n = 0;
    if (!read_integer_param(*v, &n)) {
      *fin = build_status_message(kStatusIllegalType);
      return false;
    }
    append_key(out, key, first);
    // Re-printed, since JSON allows neither a plus sign nor leading zeros.
    out += std::to_string(n);
  }
  // A flag: "1" or "true" asks for the records, anything else leaves them out.
  if (const std::string* v = first_param(params, "with_records"); v && (*v == "1" || *v == "true")) {
    append_key(out, "with_records", first);
    out += "true";
  }
  out += "}}";
  *message = std::move(out);
  return true;
}

std::optional<std::string> request_from_body(std::string_view body, query_request& request) {
  return parse_query_message(body, request, true);
}

std::optional<std::string> request_from_params(const UrlParams& params, query_request& request) {
  std::string message;
  std::string fin;
  if (!params_to_message(params, &message, &fin)) return fin;
  return parse_query_message(message, request, true);
}

double request_timeout(const UrlParams& params, double default_timeout, double max_timeout) {
  const std::string* v = first_param(params, "timeout");
  if (v == nullptr) return default_timeout;
  char* end = nullptr;
  const double t = std::strtod(v->c_str(), &end);
  if (end == v->c_str() || *end != '\0' || !(t > 0) || !std::isfinite(t)) return default_timeout;
  return std::min(t, max_timeout);
}

}  // namespace quarn
