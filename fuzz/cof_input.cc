// Feeds arbitrary bytes to the builder's line readers in every format and checks what
// they accept: a record names an owner or carries rdata, its times are ordered and
// non-zero, and its keys survive the order-preserving encoding.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "forge/input_record.h"
#include "forge/key_codec.h"

using namespace quarn;

static void check(const ParsedLine& p) {
  if (p.name.empty() && p.rdata_used == 0) abort();
  std::string key, back;
  for (const NameRecord& r : p.name_records) {
    if (r.value.first == 0 || r.value.last < r.value.first) abort();
    key.clear();
    if (!encode_name_key(p.name, r.rrtype, key)) continue;
    uint16_t t = 0;
    if (!decode_name_key(key, back, &t) || back != p.name || t != r.rrtype) abort();
  }
  for (size_t i = 0; i < p.rdata_used; ++i) {
    const RdataRecord& r = p.rdata_records[i];
    if (r.value.first == 0 || r.value.last < r.value.first || r.raw.empty()) abort();
    key.clear();
    encode_rdata_key(r.raw, r.rrtype, key);
    uint16_t t = 0;
    if (!decode_rdata_key(key, back, &t) || back != r.raw || t != r.rrtype) abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  ParsedLine parsed;
  for (InputFormat f : {InputFormat::kAuto, InputFormat::kCof, InputFormat::kRaw}) {
    const char* reason = nullptr;
    const ParseStatus st = parse_input_line(line, f, &parsed, &reason);
    if (st == ParseStatus::kBad && reason == nullptr) abort();
    if (st == ParseStatus::kOk) check(parsed);
  }
  return 0;
}
