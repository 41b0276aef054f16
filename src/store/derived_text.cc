// Deriving presentation texts from wire bytes; see derived_text.h.
#include "store/derived_text.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace quarn {
namespace {

bool plain_label_char(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// A wire name that fills raw exactly, as "label.label." (or "." for the root).
size_t name_text(std::string_view raw, char* out, size_t cap) {
  size_t n = 0, at = 0;
  while (at < raw.size()) {
    const size_t len = static_cast<unsigned char>(raw[at++]);
    if (len == 0) break;
    if (len > 63 || len > raw.size() - at || n + len + 1 > cap) return 0;
    for (size_t i = 0; i < len; ++i) {
      if (!plain_label_char(static_cast<unsigned char>(raw[at + i]))) return 0;
      out[n++] = raw[at + i];
    }
    out[n++] = '.';
    at += len;
  }
  if (at != raw.size() || raw.empty() || raw[at - 1] != 0) return 0;
  if (n == 0) out[n++] = '.';
  return n;
}

// Dotted decimal, as inet_ntop writes it, without its formatted printing: ranges over
// addresses derive one text per record.
size_t ipv4_text(std::string_view raw, char* out) {
  size_t n = 0;
  for (size_t i = 0; i < 4; ++i) {
    const unsigned b = static_cast<unsigned char>(raw[i]);
    if (i > 0) out[n++] = '.';
    if (b >= 100) out[n++] = static_cast<char>('0' + b / 100);
    if (b >= 10) out[n++] = static_cast<char>('0' + b / 10 % 10);
    out[n++] = static_cast<char>('0' + b % 10);
  }
  return n;
}

size_t txt_text(std::string_view raw, char* out, size_t cap) {
  size_t n = 0, at = 0;
  while (at < raw.size()) {
    const size_t len = static_cast<unsigned char>(raw[at++]);
    if (len > raw.size() - at || n + len + 3 > cap) return 0;
    if (n > 0) out[n++] = ' ';
    out[n++] = '"';
    for (size_t i = 0; i < len; ++i) {
      const unsigned char c = static_cast<unsigned char>(raw[at + i]);
      if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') return 0;
      out[n++] = static_cast<char>(c);
    }
    out[n++] = '"';
    at += len;
  }
  return n;
}

}  // namespace

size_t derive_value_text(uint16_t rrtype, std::string_view raw, char* out) {
  switch (rrtype) {
    case 1: return raw.size() == 4 ? ipv4_text(raw, out) : 0;
    case 28: {
      if (raw.size() != 16) return 0;
      char buf[INET6_ADDRSTRLEN];
      if (inet_ntop(AF_INET6, raw.data(), buf, sizeof buf) == nullptr) return 0;
      const size_t n = std::strlen(buf);
      std::memcpy(out, buf, n);
      return n;
    }
    case 2:
    case 5:
    case 12:
    case 39: return name_text(raw, out, kMaxDerivedText);
    case 15: {
      if (raw.size() < 3) return 0;
      const unsigned pref = static_cast<unsigned char>(raw[0]) << 8 | static_cast<unsigned char>(raw[1]);
      const int n = std::snprintf(out, kMaxDerivedText, "%u ", pref);
      const size_t rest = name_text(raw.substr(2), out + n, kMaxDerivedText - static_cast<size_t>(n));
      return rest == 0 ? 0 : static_cast<size_t>(n) + rest;
    }
    case 16: return txt_text(raw, out, kMaxDerivedText);
    default: return 0;
  }
}

}  // namespace quarn
