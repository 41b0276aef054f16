// Binding of record-type names, rdata text and domain names to the DNS library.
//
// Everything the library allocates is released before returning; callers see only
// std::string values and static mnemonics.
#include "retrieval/rrkit.h"

#include <arpa/inet.h>

#include <ldns/ldns.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "common/strfmt.h"
#include "retrieval/records_messages.h"

namespace quarn {
namespace {

struct RrDeleter {
  void operator()(ldns_rr* rr) const { ldns_rr_free(rr); }
};
struct RdfDeleter {
  void operator()(ldns_rdf* rdf) const { ldns_rdf_deep_free(rdf); }
};
struct BufferDeleter {
  void operator()(ldns_buffer* b) const { ldns_buffer_free(b); }
};

// The generic "TYPE<n>" form. The library reads the number leniently (a value over
// 65535 would wrap), so it is read here: digits only, within 16 bits.
std::optional<uint16_t> generic_type(std::string_view text) {
  if (text.size() <= 4) return std::nullopt;
  for (size_t i = 0; i < 4; ++i)
    if ((text[i] | 0x20) != "type"[i]) return std::nullopt;
  const std::string_view digits = text.substr(4);
  if (digits.size() > 5) return uint16_t{0};
  unsigned v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return uint16_t{0};
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > std::numeric_limits<uint16_t>::max()) return uint16_t{0};
  return static_cast<uint16_t>(v);
}

// Service parameters (SVCB, HTTPS) must be well formed before the library prints them:
// its printer stops the process on some malformed values instead of failing. A list is
// well formed when every (key, length, value) lies inside the field, keys ascend
// strictly, and each key the printer interprets has a value of its shape.
bool svcparams_well_formed(const uint8_t* p, size_t size) {
  size_t pos = 0;
  long previous_key = -1;
  while (pos < size) {
    if (size - pos < 4) return false;
    const unsigned key = static_cast<unsigned>(p[pos] << 8 | p[pos + 1]);
    const size_t len = static_cast<size_t>(p[pos + 2] << 8 | p[pos + 3]);
    pos += 4;
    if (len > size - pos || static_cast<long>(key) <= previous_key) return false;
    previous_key = key;
    const uint8_t* v = p + pos;
    switch (key) {
      case 0:  // mandatory: a non-empty list of keys
        if (len == 0 || len % 2 != 0) return false;
        break;
      case 1: {  // alpn: non-empty length-prefixed non-empty strings
        if (len == 0) return false;
        size_t i = 0;
        while (i < len) {
          if (v[i] == 0 || v[i] > len - i - 1) return false;
          i += 1 + v[i];
        }
        break;
      }
      case 2:  // no-default-alpn: no value
        if (len != 0) return false;
        break;
      case 3:  // port
        if (len != 2) return false;
        break;
      case 4:  // ipv4hint
        if (len == 0 || len % 4 != 0) return false;
        break;
      case 5:  // ech
        if (len == 0) return false;
        break;
      case 6:  // ipv6hint
        if (len == 0 || len % 16 != 0) return false;
        break;
      default:
        break;
    }
    pos += len;
  }
  return true;
}

// Service parameters in the generic presentation form, `key<N>="<value>"` per parameter
// (just `key<N>` when the value is empty), blank-separated. The library's own printer
// stops the process on some values that pass every structural check, so these fields
// never reach it. Bytes outside printable ASCII, the quote and the backslash are
// written as \DDD. The list must already have passed svcparams_well_formed.
void append_svcparams_generic(ldns_buffer* out, const uint8_t* p, size_t size) {
  size_t pos = 0;
  bool first = true;
  while (pos + 4 <= size) {
    const unsigned key = static_cast<unsigned>(p[pos] << 8 | p[pos + 1]);
    const size_t len = static_cast<size_t>(p[pos + 2] << 8 | p[pos + 3]);
    pos += 4;
    ldns_buffer_printf(out, first ? "key%u" : " key%u", key);
    first = false;
    if (len > 0) {
      ldns_buffer_printf(out, "=\"");
      for (size_t i = 0; i < len; ++i) {
        const uint8_t c = p[pos + i];
        if (c < 0x21 || c > 0x7e || c == '"' || c == '\\')
          ldns_buffer_printf(out, "\\%03u", static_cast<unsigned>(c));
        else
          ldns_buffer_printf(out, "%c", c);
      }
      ldns_buffer_printf(out, "\"");
    }
    pos += len;
  }
}

std::string buffer_text(ldns_buffer* b) {
  return std::string(reinterpret_cast<const char*>(ldns_buffer_begin(b)),
                     ldns_buffer_position(b));
}

}  // namespace

const char* rrkit_rrtype_to_str(uint16_t rrtype) {
  // Query-only types of the registry that the library knows by name only one way.
  switch (rrtype) {
    case 251: return "IXFR";
    case 252: return "AXFR";
    case 253: return "MAILB";
    case 254: return "MAILA";
    case kRrtypeAny: return "ANY";
    default: break;
  }
  const ldns_rr_descriptor* d = ldns_rr_descript(rrtype);
  // Unknown types fall back to a nameless descriptor (or one of another type).
  if (d == nullptr || d->_name == nullptr || d->_type != rrtype) return nullptr;
  return d->_name;
}

uint16_t rrkit_str_to_rrtype(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  if (auto generic = generic_type(text)) return *generic;
  return static_cast<uint16_t>(ldns_get_rr_type_by_name(text));
}

const char* rrtype_name(uint16_t type, char (&buf)[kRrtypeNameSize]) {
  // Mnemonics are static strings and are handed out as they are when they fit the
  // buffer's limit.
  const char* mnemonic = rrkit_rrtype_to_str(type);
  if (mnemonic != nullptr && *mnemonic != '\0') {
    const size_t n = std::strlen(mnemonic);
    if (n < kRrtypeNameSize) return mnemonic;
    std::memcpy(buf, mnemonic, kRrtypeNameSize - 1);
    buf[kRrtypeNameSize - 1] = '\0';
    return buf;
  }
  std::memcpy(buf, "TYPE", 4);
  const auto r = std::to_chars(buf + 4, buf + kRrtypeNameSize - 1, static_cast<unsigned>(type));
  *r.ptr = '\0';
  return buf;
}

std::optional<std::string> rrkit_rdata_to_str(const uint8_t* rdata, size_t length,
                                              uint16_t rrtype, uint16_t rrclass) {
  if (length > std::numeric_limits<uint16_t>::max() || (rdata == nullptr && length != 0))
    return std::string(kRrkitParseError);
  // The library decodes rdata the way it appears in a message: a 16-bit length first.
  std::vector<uint8_t> wire(length + 2);
  wire[0] = static_cast<uint8_t>(length >> 8);
  wire[1] = static_cast<uint8_t>(length & 0xff);
  if (length != 0) std::copy(rdata, rdata + length, wire.begin() + 2);

  std::unique_ptr<ldns_rr, RrDeleter> rr(ldns_rr_new());
  if (!rr) return std::nullopt;
  ldns_rr_set_type(rr.get(), static_cast<ldns_rr_type>(rrtype));
  ldns_rr_set_class(rr.get(), static_cast<ldns_rr_class>(rrclass));
  size_t pos = 0;
  if (ldns_wire2rdf(rr.get(), wire.data(), wire.size(), &pos) != LDNS_STATUS_OK ||
      pos != wire.size())
    return std::string(kRrkitParseError);

  std::unique_ptr<ldns_buffer, BufferDeleter> out(ldns_buffer_new(256));
  if (!out) return std::nullopt;
  const size_t fields = ldns_rr_rd_count(rr.get());
  for (size_t i = 0; i < fields; ++i) {
    const ldns_rdf* field = ldns_rr_rdf(rr.get(), i);
    if (ldns_rdf_get_type(field) == LDNS_RDF_TYPE_SVCPARAMS) {
      if (!svcparams_well_formed(ldns_rdf_data(field), ldns_rdf_size(field)))
        return std::string(kRrkitParseError);
      if (ldns_rdf_size(field) == 0) continue;
      if (i > 0) ldns_buffer_printf(out.get(), " ");
      append_svcparams_generic(out.get(), ldns_rdf_data(field), ldns_rdf_size(field));
      continue;
    }
    if (i > 0) ldns_buffer_printf(out.get(), " ");
    if (ldns_rdf2buffer_str(out.get(), field) != LDNS_STATUS_OK)
      return std::string(kRrkitParseError);
  }
  if (ldns_buffer_status(out.get()) != LDNS_STATUS_OK) return std::nullopt;
  return buffer_text(out.get());
}

int rrkit_domain_to_str(const uint8_t* wire, size_t available, std::string* out) {
  out->clear();
  if (wire == nullptr || available == 0) return 0;
  ldns_rdf* raw = nullptr;
  size_t pos = 0;
  if (ldns_wire2dname(&raw, wire, available, &pos) != LDNS_STATUS_OK || raw == nullptr) {
    if (raw != nullptr) ldns_rdf_deep_free(raw);
    return 0;
  }
  std::unique_ptr<ldns_rdf, RdfDeleter> name(raw);
  std::unique_ptr<ldns_buffer, BufferDeleter> text(ldns_buffer_new(256));
  if (!text || ldns_rdf2buffer_str(text.get(), name.get()) != LDNS_STATUS_OK ||
      ldns_buffer_status(text.get()) != LDNS_STATUS_OK || pos == 0 || pos > available)
    return 0;
  *out = buffer_text(text.get());
  return static_cast<int>(pos);
}

namespace {

// Addresses are most observations; inet_pton is what the zone parser applies to a lone
// address token, so when it accepts the text the wire form is the same, and anything it
// refuses (blanks, comments, odd spellings) still goes the general way.
bool address_from_text(uint16_t rrtype, std::string_view text, std::string* wire) {
  if (rrtype != 1 && rrtype != 28) return false;
  char buf[64];
  if (text.size() >= sizeof buf) return false;
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  unsigned char out[16];
  if (inet_pton(rrtype == 1 ? AF_INET : AF_INET6, buf, out) != 1) return false;
  wire->assign(reinterpret_cast<const char*>(out), rrtype == 1 ? 4 : 16);
  return true;
}

}  // namespace

bool rrkit_str_to_rdata(uint16_t rrtype, std::string_view text, std::string* wire) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;
  }
  if (address_from_text(rrtype, text, wire)) return true;
  // The generic TYPE<n> spelling serves every type, with or without a mnemonic.
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
