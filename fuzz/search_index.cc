// Searches over a damaged index file: the input is a list of byte patches applied to a
// small valid index (built once with the project's writer), aimed at the header, the
// trigram entries in use, the string table, the line index and the reference lists, or
// a truncation. The patched file is loaded and searched with a fixed set of compiled
// searches (trigram queries of several shapes, a table scan, time filters) through both
// merger kinds. Nothing may crash or read outside the mapping; whatever the damage, a
// search ends.
//
// Patch record: region (1 byte), offset (3 bytes, little-endian), length - 1 (1 byte,
// low 4 bits), then that many bytes to write. Region 5 truncates the file instead.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "index/format.h"
#include "index/index_writer.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "retrieval/search_context.h"
#include "retrieval/tgdb_merger.h"

namespace {

using namespace quarn;

// Results taken from one merger at most: enough to walk every line of the base index.
constexpr int kMaxResults = 4096;

struct Base {
  std::string bytes;
  uint64_t header_length = 0;
  uint64_t string_table = 0, string_table_size = 0;
  uint64_t line_index = 0, line_index_size = 0;
  uint64_t refs = 0;  // first byte after the line index: where the lists live
  std::vector<uint32_t> used;
  std::vector<std::unique_ptr<search_context>> searches;
  std::string path;
};

std::string base_text() {
  // Runs of names sharing trigrams give ranges; spread names give compression entries.
  std::string text;
  const char* tlds[] = {"com", "net", "org"};
  for (int t = 0; t < 3; ++t) {
    for (int i = 0; i < 40; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "%s%02d.%s\t4:5e0be100,%x:%x n:5e0be200:1\n",
                    i % 3 == 0 ? "mail" : i % 3 == 1 ? "www" : "shop", i, tlds[t], i * 7, i + 1);
      text += line;
    }
  }
  return text;
}

Base* make_base() {
  auto* b = new Base;
  b->path = "/tmp/quarn-fuzz-search-" + std::to_string(::getpid()) + ".idx";
  std::vector<std::string> lines;
  {
    std::istringstream in(base_text());
    std::string l;
    while (std::getline(in, l)) lines.push_back(l);
  }
  std::sort(lines.begin(), lines.end(),
            [](const std::string& x, const std::string& y) { return name_order(x, y) < 0; });
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  IndexWriterOptions options;
  options.timefence = true;
  options.earliest_seen = 0x5e0be100;
  options.latest_seen = 0x5e0be200;
  std::string error;
  if (!write_index_from_text(b->path, text, options, &error)) {
    std::fprintf(stderr, "cannot write the base index: %s\n", error.c_str());
    std::abort();
  }
  std::ifstream in(b->path, std::ios::binary);
  b->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const TgdbHeader h = decode_header(reinterpret_cast<const uint8_t*>(b->bytes.data()));
  b->header_length = h.header_length;
  b->string_table = string_table_offset(h.header_length);
  b->string_table_size = h.string_table_size;
  b->line_index = line_index_offset(h.header_length, h.string_table_size);
  b->line_index_size = h.line_index_size;
  b->refs = align_up(b->line_index + b->line_index_size, kSectionAlign);
  const uint8_t* table =
      reinterpret_cast<const uint8_t*>(b->bytes.data()) + kHeaderSize + h.header_length;
  for (uint32_t k = 0; k < kTrigramCount; ++k)
    if (load_le64(table + 16ull * k) != 0) b->used.push_back(k);

  struct SearchCase {
    const char* expr;
    bool glob;
    int64_t last_after;
    int64_t first_before;
  };
  const SearchCase cases[] = {{"mail", false, 0, 0},        {"^www[0-9]+\\.", false, 0, 0},
                        {"(shop|mail)1", false, 0, 0}, {"o.*\\.net$", false, 0, 0},
                        {".", false, 0, 0},            {"*.org", true, 0, 0},
                        {"w", false, 0x5e0be180, 0},   {"p", false, 0, 0x5e0be100}};
  for (const SearchCase& s : cases) {
    auto ctx = std::make_unique<search_context>();
    if (s.last_after) ctx->set_time_last_after(s.last_after);
    if (s.first_before) ctx->set_time_first_before(s.first_before);
    std::string err;
    if (!ctx->compile(s.expr, s.glob, &err)) {
      std::fprintf(stderr, "cannot compile %s: %s\n", s.expr, err.c_str());
      std::abort();
    }
    b->searches.push_back(std::move(ctx));
  }
  return b;
}

Base& base() {
  static Base* b = [] {
    Base* made = make_base();
    std::atexit([] { ::unlink(base().path.c_str()); });
    return made;
  }();
  return *b;
}

void apply(const Base& b, std::string& file, const uint8_t* data, size_t size) {
  size_t i = 0;
  while (i + 5 <= size) {
    const uint8_t region = data[i] % 6;
    const uint32_t off = data[i + 1] | (data[i + 2] << 8) | (data[i + 3] << 16);
    const size_t len = (data[i + 4] & 15) + 1;
    i += 5;
    if (region == 5) {
      if (!file.empty()) file.resize(off % file.size());
      continue;
    }
    uint64_t at = 0;
    switch (region) {
      case 0: at = off % kHeaderSize; break;
      case 1: {
        const uint32_t k = b.used[off % b.used.size()];
        at = kHeaderSize + b.header_length + 16ull * k + ((off >> 16) % 16);
        break;
      }
      case 2: at = b.string_table + off % b.string_table_size; break;
      case 3: at = b.line_index + off % b.line_index_size; break;
      default: at = b.refs + off % (b.bytes.size() - b.refs); break;
    }
    for (size_t k = 0; k < len && i < size; ++k, ++i)
      if (at + k < file.size()) file[at + k] = static_cast<char>(data[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Base& b = base();
  std::string file = b.bytes;
  apply(b, file, data, size);
  {
    const int fd = ::open(b.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < file.size()) {
      const ssize_t n = ::write(fd, file.data() + done, file.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  }
  TgdbRef index = tgdb_load(b.path);
  if (!index) return 0;
  for (auto& ctx : b.searches) {
    for (bool rdata : {false, true}) {
      tgdb_merger merger(*ctx, rdata);
      merger.add_index(index.get());
      merger.add_index(index.get());  // the same file twice: keys meet in the heap
      for (int n = 0; n < kMaxResults; ++n)
        if (!merger.next()) break;
    }
  }
  return 0;
}
