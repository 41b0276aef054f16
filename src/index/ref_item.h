// One item of a reference list decoded from its entries: a plain line, a range (a start
// entry and its end entry) or an offset-compression entry with the entry it counts from.
// The entry kinds are described in format.h.
//
// decode_ref_item is the only place that turns list entries into lines; the trackers
// call it for every item they step onto, the inspection dump for every item of a list.
// It reads only entries inside [0, nrefs) of the list, allocates nothing and reports a
// malformed item as a ref_fault instead of reading on; each caller words the fault its
// own way.
//
// Two readings of the kind bits:
//   ref_kinds::first_set  an entry is what its first kind bit in the order OTHER, END,
//                         START says (the search's reading: extra bits are ignored);
//   ref_kinds::exclusive  an entry with two kind bits is a fault, checked START first,
//                         then END, then OTHER (the inspection's reading).
// Both give the same items for every well-formed list.
#pragma once

#include <cstdint>

#include "index/format.h"

namespace quarn {

enum class ref_kinds : uint8_t { first_set, exclusive };

enum class ref_item_kind : uint8_t { plain, range, offsets };

enum class ref_fault : uint8_t {
  none,
  start_mixed,       // exclusive: a range start with another kind bit (bad_entry: it)
  end_mixed,         // exclusive: a range end with another kind bit (bad_entry: it)
  lone_end,          // the item begins with a range end (bad_entry: it; first = its line)
  range_at_end,      // a range start is the list's last entry (bad_entry: it)
  range_no_end,      // the entry after a range start is no range end (bad_entry: that)
  range_backwards,   // the range ends below its start (bad_entry: the end entry)
  offsets_no_base,   // offset compression as the list's first entry (bad_entry: it)
  offsets_bad_base,  // the entry before offset compression is a range start or offset
                     // compression itself (bad_entry: that entry)
  offsets_no_slot,   // offset compression with no slot present (bad_entry: it); the item
                     // is filled in, with value_count 0
};

struct ref_item {
  ref_item_kind kind = ref_item_kind::plain;
  uint64_t first = 0;  // first line of the item (of a fault: the line of the entry at p)
  uint64_t last = 0;   // last line of the item
  uint64_t values[4] = {0, 0, 0, 0};  // lines of an offset-compression entry, ascending
  uint8_t value_count = 0;            // 0 for a plain entry or a range
  uint8_t slot_mask = 0;              // which slots held those lines (bit i: slot i)
  uint8_t entries = 1;                // entries the item spans: 2 for a range
  uint8_t entries_read = 0;           // entries decoded for it, including a base entry
  uint64_t bad_entry = 0;             // the entry a fault names
};

namespace ref_item_detail {

inline ref_fault fault(ref_item& item, ref_fault f, uint64_t entry) {
  item.bad_entry = entry;
  return f;
}

inline ref_fault decode_offsets_item(const uint8_t* list, uint64_t p, uint64_t e,
                                     ref_item& item) {
  if (p == 0) return fault(item, ref_fault::offsets_no_base, e);
  const uint64_t b = ref_at(list, p - 1);
  ++item.entries_read;
  if (ref_is_start(b) || ref_is_other(b)) return fault(item, ref_fault::offsets_bad_base, b);
  const RefOffsets offs = decode_offsets(e);
  item.kind = ref_item_kind::offsets;
  uint64_t line = ref_value(b);
  uint8_t n = 0;
  for (int i = 0; i < 4; ++i) {
    if ((offs.mask & (1u << i)) == 0) continue;
    line += offs.slot[i];
    item.values[n++] = line;
  }
  item.value_count = n;
  item.slot_mask = offs.mask;
  if (n == 0) return fault(item, ref_fault::offsets_no_slot, e);
  item.first = item.values[0];
  item.last = item.values[n - 1];
  return ref_fault::none;
}

template <ref_kinds Kinds>
inline ref_fault decode_range_item(const uint8_t* list, uint64_t nrefs, uint64_t p,
                                   uint64_t e, ref_item& item) {
  if (p + 1 >= nrefs) return fault(item, ref_fault::range_at_end, e);
  const uint64_t end = ref_at(list, p + 1);
  ++item.entries_read;
  if (!ref_is_end(end)) return fault(item, ref_fault::range_no_end, end);
  if (Kinds == ref_kinds::exclusive && (end & (REF_START | REF_OTHER)) != 0)
    return fault(item, ref_fault::end_mixed, end);
  // A range whose end lies below its start would let a seek step backwards.
  if (ref_value(end) < ref_value(e)) return fault(item, ref_fault::range_backwards, end);
  item.kind = ref_item_kind::range;
  item.last = ref_value(end);
  item.entries = 2;
  return ref_fault::none;
}

}  // namespace ref_item_detail

// Decodes the item whose first entry is entry p (p < nrefs) of the list into item.
// ref_fault::none, or the fault; on a fault only first, entries_read and bad_entry are
// meaningful (offsets_no_slot also fills in the item, with value_count 0).
template <ref_kinds Kinds>
inline ref_fault decode_ref_item(const uint8_t* list, uint64_t nrefs, uint64_t p,
                                 ref_item& item) {
  using namespace ref_item_detail;
  const uint64_t e = ref_at(list, p);
  item.kind = ref_item_kind::plain;
  item.entries_read = 1;
  item.entries = 1;
  item.value_count = 0;
  item.first = item.last = ref_value(e);
  if constexpr (Kinds == ref_kinds::exclusive) {
    if (ref_is_start(e)) {
      if ((e & (REF_END | REF_OTHER)) != 0) return fault(item, ref_fault::start_mixed, e);
      return decode_range_item<Kinds>(list, nrefs, p, e, item);
    }
    if (ref_is_end(e))
      return fault(item, ref_is_other(e) ? ref_fault::end_mixed : ref_fault::lone_end, e);
    if (ref_is_other(e)) return decode_offsets_item(list, p, e, item);
  } else {
    if (ref_is_other(e)) return decode_offsets_item(list, p, e, item);
    if (ref_is_end(e)) return fault(item, ref_fault::lone_end, e);
    if (ref_is_start(e)) return decode_range_item<Kinds>(list, nrefs, p, e, item);
  }
  return ref_fault::none;  // plain entry: the line itself
}

}  // namespace quarn
