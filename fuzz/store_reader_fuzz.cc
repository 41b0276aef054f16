// Record store reader over damaged files: the input is a list of byte patches applied to
// a small valid store (built once with the project's writer), optionally followed by a
// repair of every block checksum and the header's, so that damage also reaches the
// decoders behind the checksums. The patched file is opened and walked in both orders
// and through name, subtree, value and prefix lookups. Nothing may crash, read outside
// the mapping or loop without end.
//
// Input: flags (1 byte: bit 0 repair checksums, bit 1 truncate), when truncating a
// 2-byte little-endian length, then patch records: offset (2 bytes, little-endian,
// taken modulo the file size), length - 1 (low 4 bits of 1 byte), that many bytes.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lookup/lookup.h"
#include "retrieval/rrkit.h"
#include "store/store_codec.h"
#include "store/store_cursors.h"
#include "store/store_reader.h"
#include "store/store_writer.h"
#include "store/value_order.h"

namespace {

using namespace quarn;

// Records read from one walk at most: more than the base store holds.
constexpr int kMaxRecords = 4096;

// The wire form of a dotted name, through the one text-to-wire conversion.
std::string wire_name(const std::string& dotted) {
  std::string out;
  if (!rrkit_str_to_rdata(2 /* NS */, dotted + ".", &out)) std::abort();
  return out;
}

struct Base {
  std::string bytes;
  std::string path;
};

Base* make_base() {
  auto* b = new Base;
  b->path = "/tmp/quarn-fuzz-store-" + std::to_string(::getpid()) + ".qrs";
  std::string error;
  auto w = StoreWriter::create(b->path + ".base", 1 << 24, &error);
  const char* hosts[] = {"www", "mail", "api"};
  const char* zones[] = {"example.com", "example.net", "b.example.com"};
  struct R { std::string name, raw; uint16_t type; };
  std::vector<R> recs;
  for (int z = 0; z < 3; ++z) {
    for (int h = 0; h < 3; ++h) {
      for (int i = 0; i < 8; ++i) {
        const std::string name = std::string(hosts[h]) + std::to_string(i) + "." + zones[z];
        recs.push_back({name, std::string({'\xc0', 0, 2, static_cast<char>(i * 9 + h)}), 1});
        recs.push_back({name, wire_name("ns" + std::to_string(i % 3) + ".example.org"), 2});
      }
    }
  }
  std::sort(recs.begin(), recs.end(), [](const R& x, const R& y) {
    return record_order(x.name, x.type, x.raw, y.name, y.type, y.raw) < 0;
  });
  for (const R& r : recs) {
    if (!w || !w->add({r.name, r.type, r.raw, 1600000000, 1600000500, 3, "example.com"}, &error)) {
      std::fprintf(stderr, "cannot write the base store: %s\n", error.c_str());
      std::abort();
    }
  }
  if (!w->finish(&error)) std::abort();
  std::ifstream f(b->path + ".base", std::ios::binary);
  b->bytes.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  unlink((b->path + ".base").c_str());
  return b;
}

void put32(std::string& s, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Recomputes the checksums of every block whose extent lies in the file, and the header's.
void repair(std::string& s) {
  if (s.size() < kStoreHeaderSize) return;
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  const uint64_t n = s.size();
  const uint64_t blocks = get_u64(p + 48), names = get_u64(p + 56), names_len = get_u64(p + 64);
  const uint64_t nidx = get_u64(p + 72), values = get_u64(p + 80), values_len = get_u64(p + 88);
  const uint64_t vidx = get_u64(p + 96), vcount = (get_u64(p + 40) + 15) / 16;
  auto fix = [&](uint64_t idx, uint64_t count, uint64_t width, uint64_t base, uint64_t len,
                 uint64_t crc_at) {
    if (count > 4096 || idx > n || count * width > n - idx || base > n || len > n - base) return;
    for (uint64_t b = 0; b < count; ++b) {
      const uint64_t start = get_u64(p + idx + b * width);
      const uint64_t end = b + 1 < count ? get_u64(p + idx + (b + 1) * width) : len;
      if (start < end && end <= len) put32(s, idx + b * width + crc_at, store_crc(p + base + start, end - start));
    }
  };
  fix(nidx, blocks, kNameIndexEntry, names, names_len, 16);
  fix(vidx, vcount, kValueIndexEntry, values, values_len, 8);
  put32(s, 12, 0);
  put32(s, 12, store_crc(p, kStoreHeaderSize));
}

void walk(const RecordStore& s) {
  NameCursor n(s);
  int k = 0;
  for (n.seek_first(); n.valid() && k < kMaxRecords; n.next()) ++k;
  ValueCursor v(s);
  k = 0;
  for (v.seek_first(); v.valid() && k < kMaxRecords; v.next()) ++k;
  const char* names[] = {"www3.example.com", "*.example.com", "*.b.example.com"};
  const char* values[] = {"192.0.2.9", "ns1.example.org.", "0.0.0.0/0", "192.0.2.0/28"};
  const RecordStore* stores[] = {&s, &s};
  for (int i = 0; i < 7; ++i) {
    LookupQuery q;
    std::string error;
    const bool ok = i < 3 ? parse_name_query(names[i], i == 2, &q, &error)
                          : parse_value_query(values[i - 3], 0, &q, &error);
    if (!ok) std::abort();
    auto l = Lookup::start(stores, q);
    k = 0;
    for (; l->valid() && k < kMaxRecords; l->next()) ++k;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Base* base = make_base();
  if (size < 1) return 0;
  std::string file = base->bytes;
  const uint8_t flags = data[0];
  size_t at = 1;
  if ((flags & 2) != 0 && size >= 3) {
    file.resize((data[1] | data[2] << 8) % (file.size() + 1));
    at = 3;
  }
  while (!file.empty() && at + 3 <= size) {
    const size_t offset = (data[at] | data[at + 1] << 8) % file.size();
    const size_t len = (data[at + 2] & 15) + 1;
    at += 3;
    for (size_t i = 0; i < len && at < size && offset + i < file.size(); ++i) file[offset + i] = static_cast<char>(data[at++]);
  }
  if ((flags & 1) != 0) repair(file);
  {
    std::ofstream out(base->path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
  }
  std::string error;
  std::unique_ptr<RecordStore> s = RecordStore::open(base->path, &error);
  if (s) walk(*s);
  return 0;
}
