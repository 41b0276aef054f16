// Text to wire for rdata values; see rdata_wire.h.
#include "lookup/rdata_wire.h"

#include <arpa/inet.h>
#include <ldns/ldns.h>

#include <cstring>

#include "common/strfmt.h"

namespace quarn {
namespace {

bool address_wire(uint16_t rrtype, std::string_view text, std::string* wire) {
  char buf[64];
  if (text.size() >= sizeof buf) return false;
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  unsigned char out[16];
  const int family = rrtype == 1 ? AF_INET : AF_INET6;
  if (inet_pton(family, buf, out) != 1) return false;
  wire->assign(reinterpret_cast<const char*>(out), rrtype == 1 ? 4 : 16);
  return true;
}

}  // namespace

bool rdata_wire_from_text(uint16_t rrtype, std::string_view text, std::string* wire) {
  if (rrtype == 1 || rrtype == 28) return address_wire(rrtype, text, wire);
  if (text.empty()) return false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  std::string rr = str_fmt(". 0 IN TYPE%u ", static_cast<unsigned>(rrtype));
  rr.append(text);
  ldns_rr* parsed = nullptr;
  if (ldns_rr_new_frm_str(&parsed, rr.c_str(), 0, nullptr, nullptr) != LDNS_STATUS_OK) {
    return false;
  }
  ldns_buffer* buf = ldns_buffer_new(256);
  const bool ok = buf != nullptr && ldns_rr_rdata2buffer_wire(buf, parsed) == LDNS_STATUS_OK &&
                  ldns_buffer_position(buf) > 0;
  if (ok) {
    wire->assign(reinterpret_cast<const char*>(ldns_buffer_begin(buf)),
                 ldns_buffer_position(buf));
  }
  if (buf != nullptr) ldns_buffer_free(buf);
  ldns_rr_free(parsed);
  return ok;
}

}  // namespace quarn
