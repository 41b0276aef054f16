#include "forge/merge_ops.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "forge/sortab_varint.h"
#include "common/log.h"

namespace quarn {

void encode_count_value(const CountValue& v, std::string& out) {
  sortab_varint_append32(out, v.first);
  sortab_varint_append32(out, v.last);
  sortab_varint_append64(out, v.count);
}

bool decode_count_value(std::string_view value, CountValue* v) {
  const auto* p = reinterpret_cast<const uint8_t*>(value.data());
  const uint8_t* limit = p + value.size();
  *v = CountValue{};
  size_t n = sortab_varint_decode32(p, limit, &v->first);
  if (n == 0) return false;
  p += n;
  if (p == limit) return true;
  n = sortab_varint_decode32(p, limit, &v->last);
  if (n == 0) return false;
  p += n;
  n = sortab_varint_decode64(p, limit, &v->count);
  return n != 0;
}

void merge_counts(std::string_view, std::string_view a, std::string_view b,
                  std::string& out) {
  CountValue va, vb;
  const bool ha = decode_count_value(a, &va);
  const bool hb = decode_count_value(b, &vb);
  CountValue m;
  // An empty or undecodable side contributes nothing: letting its zero take part in
  // the minimum would replace a real first-seen time by 1970.
  m.first = ha && hb ? std::min(va.first, vb.first) : ha ? va.first : hb ? vb.first : 0;
  m.last = std::max(va.last, vb.last);
  // Saturate: a wrapped sum would turn the most-seen record into a rarely-seen one.
  m.count = va.count > UINT64_MAX - vb.count ? UINT64_MAX : va.count + vb.count;
  encode_count_value(m, out);
}

void merge_keys_only(std::string_view, std::string_view, std::string_view,
                     std::string& out) {
  out.push_back('\0');
}

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Longest text parse_key_prefix reads.
constexpr size_t kMaxPrefixText = 1023;
// Longest decimal length field of a raw key.
constexpr size_t kMaxLengthDigits = 14;

}  // namespace

std::optional<std::string> parse_raw_key(std::string_view text) {
  const size_t slash = text.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash > kMaxLengthDigits) {
    return std::nullopt;
  }
  uint64_t len = 0;
  for (size_t i = 0; i < slash; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    len = len * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  const std::string_view hex = text.substr(slash + 1);
  if (len == 0 || hex.size() != 2 * len) return std::nullopt;
  std::string out(len, '\0');
  for (size_t i = 0; i < len; ++i) {
    const int hi = hex_value(hex[2 * i]), lo = hex_value(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<char>(hi * 16 + lo);
  }
  return out;
}

std::optional<KeyPrefix> parse_key_prefix(std::string_view text) {
  if (text.empty()) return std::nullopt;
  text = text.substr(0, kMaxPrefixText);
  size_t sep = text.find('-');
  if (sep == std::string_view::npos) sep = text.find(':');
  KeyPrefix result;
  auto first = parse_raw_key(text.substr(0, sep));
  if (!first) return std::nullopt;
  result.first = std::move(*first);
  if (sep != std::string_view::npos) {
    auto second = parse_raw_key(text.substr(sep + 1));
    if (!second) return std::nullopt;
    result.second = std::move(*second);
  }
  return result;
}

std::unique_ptr<SortabMerged> open_sortab_merged(const std::vector<std::string>& files,
                                                 std::string_view prefix, bool keys_only) {
  const std::string prefix_text(prefix);
  auto parsed = parse_key_prefix(prefix);
  if (!parsed) {
    fprintf(stderr, kMergeErrPrefix, prefix_text.c_str());
    return nullptr;
  }
  auto merger = std::make_unique<SortabMerger>(keys_only ? SortabMergeFunc(merge_keys_only)
                                                         : SortabMergeFunc(merge_counts));
  for (const std::string& file : files) {
    std::string error;
    auto reader = SortabReader::open(file, &error);
    if (!reader) {
      fprintf(stderr, kMergeErrOpenFile, file.c_str());
      return nullptr;  // the merger and the readers opened so far close here
    }
    merger->add_source(std::move(reader));
    QLOG(LOG_INFO, kMergeLogOpening, file.c_str());
  }
  std::unique_ptr<SortabMerged> merged(new SortabMerged);
  if (parsed->second) {
    merged->iter_ = SortabBoundedSource::range(std::move(merger), std::move(parsed->first),
                                               std::move(*parsed->second));
  } else {
    merged->iter_ = SortabBoundedSource::prefix(std::move(merger), std::move(parsed->first));
  }
  return merged;
}

void close_sortab_merged(std::unique_ptr<SortabMerged>& merged) { merged.reset(); }

}  // namespace quarn
