#include "forge/key_codec.h"

#include <algorithm>
#include <vector>

namespace quarn {
namespace {

void put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>((v >> 8) & 0xff));
  out.push_back(static_cast<char>(v & 0xff));
}

uint32_t get16(std::string_view s, size_t at) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 8) |
         static_cast<uint8_t>(s[at + 1]);
}

}  // namespace

bool encode_name_key(std::string_view name, uint16_t rrtype, std::string& out) {
  if (name.empty()) return false;
  size_t end = name.size();
  // Walk labels from the right; a trailing dot yields an empty last label, as in the
  // name order.
  for (;;) {
    const size_t dot = name.rfind('.', end == 0 ? std::string_view::npos : end - 1);
    const size_t start = (dot == std::string_view::npos || end == 0) ? 0 : dot + 1;
    const size_t len = end - start;
    if (end == 0) {
      // The name begins with a dot: one empty label before it.
      put16(out, 1);
      break;
    }
    if (len > kMaxLabelBytes) return false;
    put16(out, static_cast<uint32_t>(len) + 1);
    out.append(name.substr(start, len));
    if (dot == std::string_view::npos) break;
    end = dot;
  }
  put16(out, 0);
  put16(out, rrtype);
  return true;
}

bool name_key_encodable(std::string_view name) {
  if (name.empty()) return false;
  size_t label = 0;
  for (char c : name) {
    label = c == '.' ? 0 : label + 1;
    if (label > kMaxLabelBytes) return false;
  }
  return true;
}

std::string_view name_key_stem(std::string_view key) {
  return key.size() >= 2 ? key.substr(0, key.size() - 2) : key;
}

bool decode_name_key(std::string_view key, std::string& name, uint16_t* rrtype) {
  std::vector<std::string_view> labels;
  size_t at = 0;
  for (;;) {
    if (key.size() - at < 2) return false;
    const uint32_t head = get16(key, at);
    at += 2;
    if (head == 0) break;
    const size_t len = head - 1;
    if (key.size() - at < len) return false;
    labels.push_back(key.substr(at, len));
    at += len;
  }
  if (labels.empty() || key.size() - at != 2) return false;
  *rrtype = static_cast<uint16_t>(get16(key, at));
  name.clear();
  for (size_t i = labels.size(); i-- > 0;) {
    // A label may not hold a dot: it would have been split when encoding.
    if (labels[i].find('.') != std::string_view::npos) return false;
    name.append(labels[i]);
    if (i > 0) name.push_back('.');
  }
  return true;
}

size_t name_key_size(std::string_view key) {
  size_t at = 0;
  for (;;) {
    if (key.size() - at < 2) return 0;
    const uint32_t head = get16(key, at);
    at += 2;
    if (head == 0) break;
    if (key.size() - at < head - 1) return 0;
    at += head - 1;
  }
  return key.size() - at < 2 ? 0 : at + 2;
}

void encode_rdata_key(std::string_view raw, uint16_t rrtype, std::string& out) {
  out.reserve(out.size() + 2 * raw.size() + 4);
  for (char c : raw) {
    out.push_back(c);
    out.push_back('\0');
  }
  out.push_back(static_cast<char>(std::min<uint32_t>(rrtype, 255)));
  out.push_back('\1');
  put16(out, rrtype);
}

bool decode_rdata_key(std::string_view key, std::string& raw, uint16_t* rrtype) {
  raw.clear();
  size_t at = 0;
  while (key.size() - at >= 2 && key[at + 1] == '\0') {
    raw.push_back(key[at]);
    at += 2;
  }
  if (key.size() - at != 4 || key[at + 1] != '\1') return false;
  const uint32_t type = get16(key, at + 2);
  if (static_cast<uint8_t>(key[at]) != std::min<uint32_t>(type, 255)) return false;
  *rrtype = static_cast<uint16_t>(type);
  return true;
}

}  // namespace quarn
