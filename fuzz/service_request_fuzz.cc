// Feeds arbitrary bytes to the service's request builders: the first byte picks the
// form, the rest is a POST body or a list of URL parameters ("key=value" separated by
// '&', as a decoded query string would give them). Every input must give a request
// within the parser's bounds or a fin message that names a code, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/log.h"
#include "service/request_params.h"

using namespace quarn;

namespace {

UrlParams split_params(std::string_view text) {
  UrlParams params;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    const size_t eq = pair.find('=');
    params.emplace(std::string(pair.substr(0, eq)),
                   eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
  }
  return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    log_set_level(LOG_FAILURE);  // refused requests are expected here
    return true;
  }();
  (void)quiet;
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  query_request req;
  const std::optional<std::string> fin =
      (data[0] & 1) ? request_from_body(text, req) : request_from_params(split_params(text), req);
  if (fin) {
    if (fin->rfind("{\"fin\":", 0) != 0 && *fin != "ERROR") std::abort();
    return 0;
  }
  if (req.value.size() > kQueryMaxValue || req.limit == 0 || req.scope < 0 || req.scope > 1)
    std::abort();
  return 0;
}
