// Fuzzes loading and inspection of a damaged index file.
//
// A small valid index is written once; each input is a list of 6-byte edits applied to a
// copy of it: byte 0 picks a region (header, a used trigram table entry, string table,
// line index, reference lists, or a cut of the file's end), bytes 1-3 an offset inside it
// and bytes 4-5 the new value. The damaged file is loaded and, when the loader accepts
// it, every report of tginspect runs over it. Any read outside the mapping is a finding.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/index_writer.h"
#include "index/tgdb.h"
#include "inspect/inspect.h"

namespace {

struct Base {
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> entries;  // offsets of trigram entries that hold lists
  uint64_t table = 0, st = 0, st_size = 0, li = 0, li_size = 0, refs = 0;
  int fd = -1;
  std::string fd_path;
  FILE* sink = nullptr;
};

Base* make_base() {
  auto* b = new Base();
  std::string text;
  for (int i = 0; i < 300; ++i) {
    char line[64];
    snprintf(line, sizeof line, "h%03d.%s.example.com\t4:5f000000,%x:%x\n", i, i % 3 ? "eu" : "us", i, i + 1);
    text += line;
  }
  char dir[] = "/tmp/tgdb-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) abort();
  const std::string path = std::string(dir) + "/base.idx";
  quarn::IndexWriterOptions o;
  o.kind = quarn::IndexKind::kRdata;  // unchecked order: the keys are ad hoc
  std::string error;
  if (!quarn::write_index_from_text(path, text, o, &error)) abort();
  FILE* f = fopen(path.c_str(), "rb");
  fseek(f, 0, SEEK_END);
  b->bytes.resize(static_cast<size_t>(ftell(f)));
  rewind(f);
  if (fread(b->bytes.data(), 1, b->bytes.size(), f) != b->bytes.size()) abort();
  fclose(f);
  unlink(path.c_str());
  rmdir(dir);

  const quarn::TgdbHeader h = quarn::decode_header(b->bytes.data());
  b->table = quarn::kHeaderSize + h.header_length;
  for (uint32_t k = 0; k < quarn::kTrigramCount; ++k)
    if (quarn::load_le64(b->bytes.data() + b->table + 16ull * k) != 0) b->entries.push_back(b->table + 16ull * k);
  b->st = quarn::string_table_offset(h.header_length);
  b->st_size = h.string_table_size;
  b->li = quarn::line_index_offset(h.header_length, h.string_table_size);
  b->li_size = h.line_index_size;
  b->refs = b->bytes.size() - h.tgdb_size;
  b->fd = memfd_create("tgdb", 0);
  if (b->fd < 0) abort();
  b->fd_path = "/proc/self/fd/" + std::to_string(b->fd);
  b->sink = fopen("/dev/null", "w");
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Base* base = make_base();
  std::vector<uint8_t> b = base->bytes;
  size_t len = b.size();
  for (size_t i = 0; i + 6 <= size && i < 6 * 64; i += 6) {
    const uint8_t* r = data + i;
    const uint64_t off = (uint64_t{r[1]} << 16) | (uint64_t{r[2]} << 8) | r[3];
    uint64_t at;
    switch (r[0] % 6) {
      case 0: at = off % quarn::kHeaderSize; break;
      case 1: at = base->entries[off % base->entries.size()] + (off >> 8) % 16; break;
      case 2: at = base->st + off % base->st_size; break;
      case 3: at = base->li + off % base->li_size; break;
      case 4: at = base->refs + off % (b.size() - base->refs); break;
      default:
        len -= std::min<uint64_t>(off % 8192, len);
        continue;
    }
    b[at] = r[4];
    if (at + 1 < b.size()) b[at + 1] = r[5];
  }
  if (ftruncate(base->fd, 0) != 0 || pwrite(base->fd, b.data(), len, 0) != static_cast<ssize_t>(len)) abort();

  quarn::TgdbRef t = quarn::tgdb_load(base->fd_path);
  if (!t) return 0;
  quarn::print_header_report(*t, base->sink);
  const int verbosity = size > 0 ? data[size - 1] % 3 : 0;
  for (uint32_t k = 0; k < quarn::kTrigramCount; ++k)
    if (t->nrefs(k) != 0) quarn::dump_trigrams(*t, k, verbosity, base->sink, base->sink);
  quarn::print_gap_stats(*t, base->sink, base->sink);
  for (uint64_t n = 1; n < 400; n += 37) quarn::print_line(*t, n, base->sink, base->sink);
  return 0;
}
