#include "forge/merge_ops.h"

#include <algorithm>
#include <cstdint>

#include "common/saturating.h"
#include "forge/sortab_varint.h"

namespace quarn {

void encode_count_value(const CountValue& v, std::string& out) {
  sortab_varint_append32(out, v.first);
  sortab_varint_append32(out, v.last);
  sortab_varint_append64(out, v.count);
  if (v.observations != 0) sortab_varint_append64(out, v.observations);
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
  if (n == 0) return false;
  p += n;
  return p == limit || sortab_varint_decode64(p, limit, &v->observations) != 0;
}

void fold_counts(CountValue* into, const CountValue& v) {
  into->first = std::min(into->first, v.first);
  into->last = std::max(into->last, v.last);
  into->count = saturating_add(into->count, v.count);
  into->observations = saturating_add(into->observations, v.observations);
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
  m.count = saturating_add(va.count, vb.count);
  m.observations = saturating_add(va.observations, vb.observations);
  encode_count_value(m, out);
}

}  // namespace quarn
