// Presentation text of rdata values for indexing, with the rules that keep noise out of
// the index (empty and oversized values, undecodable values, refused-ANY answers).
#include "retrieval/rdata_text.h"

#include <algorithm>
#include <string_view>

#include "common/log.h"
#include "common/strfmt.h"
#include "retrieval/records_messages.h"
#include "retrieval/rrkit.h"

namespace quarn {
namespace {

constexpr uint16_t kTypeNs = 2;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeSoa = 6;
constexpr uint16_t kTypeHinfo = 13;
constexpr uint16_t kTypeMx = 15;

// Servers that refuse ANY queries answer with a synthesised HINFO naming the draft
// that describes the practice; those answers say nothing about the name.
constexpr std::string_view kRefuseAnyMarkers[] = {
    "draft-ietf-dnsop-refuse-any\"",
    "draft-quorby-dnsop-refuse-any\"",
};
// The published practice settled on CPU "RFC8482" and an empty OS, as a whole text.
constexpr std::string_view kRefuseAnyPublished = "\"RFC8482\" \"\"";

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool is_refused_any_answer(std::string_view text) {
  if (text == kRefuseAnyPublished) return true;
  for (std::string_view marker : kRefuseAnyMarkers) {
    if (ends_with(text, marker)) return true;
  }
  return false;
}

bool folds_case(uint16_t rrtype) {
  return rrtype == kTypeNs || rrtype == kTypeCname || rrtype == kTypeMx;
}

bool is_control(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7f;
}

// The printer keeps some control bytes (a tab inside a quoted string) as they are;
// \DDD spells the same byte in every field and keeps the text on one line.
void escape_control_bytes(std::string* text) {
  if (std::none_of(text->begin(), text->end(), is_control)) return;
  std::string escaped;
  escaped.reserve(text->size() + 8);
  for (char c : *text) {
    if (is_control(c)) {
      escaped += str_fmt("\\%03u", static_cast<unsigned>(static_cast<unsigned char>(c)));
    } else {
      escaped.push_back(c);
    }
  }
  *text = std::move(escaped);
}

bool contains_parse_error(std::string_view s) {
  constexpr std::string_view marker = kRrkitParseError;
  if (s.size() < marker.size()) return false;
  for (size_t i = 0; i + marker.size() <= s.size(); ++i) {
    bool match = true;
    for (size_t k = 0; match && k < marker.size(); ++k) {
      char c = s[i + k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      match = c == marker[k];
    }
    if (match) return true;
  }
  return false;
}

// "<primary name server> <responsible mailbox>" from the start of SOA rdata.
bool soa_text(std::span<const uint8_t> rdata, std::string* out) {
  std::string primary;
  std::string mailbox;
  const int used = rrkit_domain_to_str(rdata.data(), rdata.size(), &primary);
  if (used <= 0) return false;
  const size_t rest = rdata.size() - static_cast<size_t>(used);
  if (rest > 0 && rrkit_domain_to_str(rdata.data() + used, rest, &mailbox) <= 0) return false;
  if (primary.empty() || mailbox.empty()) return false;
  if (primary == "." && mailbox == ".") return false;
  *out = str_fmt("%s %s", primary.c_str(), mailbox.c_str());
  return true;
}

}  // namespace

std::optional<size_t> rdata_to_text(uint16_t rrtype, std::span<const uint8_t> rdata,
                                    std::string* out) {
  out->clear();
  if (rdata.size() == 1 && rdata[0] == 0) {
    QLOG(LOG_DETAIL, "%s", kMsgShortEmptyRdata);
    return std::nullopt;
  }
  if (rdata.size() > kMaxIndexedRdata) {
    QLOG(LOG_DETAIL, kFmtLongRdataValue, static_cast<unsigned>(rrtype), rdata.size());
    return std::nullopt;
  }

  if (rrtype == kTypeSoa) {
    if (!soa_text(rdata, out)) {
      out->clear();
      return std::nullopt;
    }
  } else {
    std::optional<std::string> text = rrkit_rdata_to_str(rdata.data(), rdata.size(), rrtype, 1);
    if (!text || text->empty()) return std::nullopt;
    if (contains_parse_error(*text)) {
      QLOG(LOG_DEBUG, kFmtRdataParseError, static_cast<unsigned>(rrtype));
      return std::nullopt;
    }
    *out = std::move(*text);
  }

  escape_control_bytes(out);
  if (out->empty()) return std::nullopt;
  if (out->size() > kMaxIndexedRdataText) {
    QLOG(LOG_DETAIL, kFmtLongRdataString, static_cast<unsigned>(rrtype), out->size());
    out->clear();
    return std::nullopt;
  }
  if (rrtype == kTypeHinfo && is_refused_any_answer(*out)) {
    out->clear();
    return std::nullopt;
  }
  if (folds_case(rrtype)) {
    const bool mixed = std::any_of(out->begin(), out->end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (mixed) {
      QLOG(LOG_DEBUG, kFmtMixedCaseRdata, out->c_str());
      for (char& c : *out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out->size();
}

void fold_rdata_name_case(uint16_t rrtype, std::span<uint8_t> rdata) {
  if (!folds_case(rrtype)) return;
  size_t pos = rrtype == kTypeMx ? 2 : 0;  // MX: the preference comes first
  // Plain labels only: a length byte with either top bit set is a pointer or an
  // extended label, whose bytes are no letters of this name.
  while (pos < rdata.size() && rdata[pos] != 0 && rdata[pos] < 0x40) {
    const size_t end = pos + 1 + rdata[pos];
    if (end > rdata.size()) return;
    for (size_t i = pos + 1; i < end; ++i) {
      if (rdata[i] >= 'A' && rdata[i] <= 'Z') rdata[i] = static_cast<uint8_t>(rdata[i] + 32);
    }
    pos = end;
  }
}

}  // namespace quarn
