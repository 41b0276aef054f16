// Feeds arbitrary bytes to the observation-text readers, the rdata line order and the
// rdata text conversion. Beyond "no crash, no read past the input", it checks that what
// the rrname reader and the raw rdata reader accept is written back by the writers into
// text that reads back to the same value, and that the rdata order is antisymmetric.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/log.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_order.h"
#include "retrieval/rdata_text.h"

using namespace quarn;

namespace {
int sign(int v) { return (v > 0) - (v < 0); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Parse warnings are expected here by the million; keep the run readable.
  static bool quiet = [] {
    FILE* sink = std::fopen("/dev/null", "w");
    if (sink != nullptr) log_set_stream(sink);
    log_set_level(LOG_FAILURE);
    return true;
  }();
  (void)quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<rrtype_summary> list;
  if (parse_rrname_annotation(text, &list) > 0) {
    std::string written;
    write_annotation(list, {}, written, /*no_leading_tab=*/true);
    std::vector<rrtype_summary> back;
    if (parse_rrname_annotation(written, &back) != list.size() || back != list) std::abort();
  }

  rdata_annotation ann;
  if (parse_rdata_annotation(text, &ann)) {
    if (ann.rrtype == 0 || ann.time_last < ann.time_first) std::abort();
    if (ann.raw_start + ann.raw_length > size) std::abort();
  }

  std::vector<uint8_t> raw;
  if (parse_raw_rdata(text, &raw)) {
    if (raw.empty()) std::abort();
    std::string written;
    append_raw_rdata(written, raw);
    std::vector<uint8_t> back;
    if (!parse_raw_rdata(written, &back) || back != raw) std::abort();
  }

  (void)parse_type_code(text);

  const size_t half = size / 2;
  const std::string_view a = text.substr(0, half);
  const std::string_view b = text.substr(half);
  if (sign(rdata_line_compare(a, b)) != -sign(rdata_line_compare(b, a))) std::abort();
  if (rdata_line_compare(a, a) != 0) std::abort();

  if (size >= 2) {
    const uint16_t type = static_cast<uint16_t>(data[0] << 8 | data[1]);
    std::string out;
    auto n = rdata_to_text(type, std::span<const uint8_t>(data + 2, size - 2), &out);
    if (n && (*n != out.size() || out.empty() || out.size() > kMaxIndexedRdataText)) std::abort();
  }
  return 0;
}
