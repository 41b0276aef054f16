#include "index/string_table_writer.h"

#include <cstdio>
#include <cstring>

#include "common/log.h"
#include "index/file_io.h"
#include "index/format.h"
#include "index/index_messages.h"
#include "index/line_index_builder.h"

namespace quarn {

namespace {

// Header, real nref table and trigram table: filled in by whoever builds the lists.
constexpr long kReservedPrefix = static_cast<long>(kHeaderSize + kRealNrefTableSize + kTrigramTableSize);

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f != nullptr) fclose(f);
  }
};

}  // namespace

int write_string_table(SectionSizes* sizes, std::string_view text, const LineGetter& next_line,
                       const char* path) {
  FileCloser out{fopen(path, "wb")};
  if (out.f == nullptr) {
    perror("fopen");
    return -1;
  }
  if (fseek(out.f, kReservedPrefix, SEEK_SET) != 0) {
    perror("fseek");
    return -1;
  }
  if (align_output(out.f) != 0) return -1;

  LineIndexBuilder index;
  uint64_t table_size = 0;
  auto put_line = [&](std::string_view line) -> bool {
    if (line.empty()) return true;  // an empty line would have no line number
    index.add_line(table_size);
    if (fwrite(line.data(), 1, line.size(), out.f) != line.size() || fputc('\n', out.f) == EOF) {
      perror("fwrite");
      return false;
    }
    table_size += line.size() + 1;
    return true;
  };

  if (next_line) {
    std::string_view line;
    while (next_line(&line))
      if (!put_line(line)) return -1;
  } else {
    size_t pos = 0;
    while (pos < text.size()) {
      const void* lf = std::memchr(text.data() + pos, '\n', text.size() - pos);
      const size_t end = lf == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(lf) - text.data());
      if (!put_line(text.substr(pos, end - pos))) return -1;
      pos = end + 1;
    }
  }
  index.finish();

  if (align_output(out.f) != 0) return -1;
  const std::string& li = index.bytes();
  if (fwrite(li.data(), 1, li.size(), out.f) != li.size()) {
    perror("fwrite");
    return -1;
  }
  if (align_output(out.f) != 0) return -1;
  FILE* f = out.f;
  out.f = nullptr;
  if (fclose(f) != 0) {
    perror("fclose");
    return -1;
  }
  sizes->string_table_size = table_size;
  sizes->line_index_size = li.size();
  QLOG(LOG_INFO, index_msg::kStringTableDone, path);
  return 0;
}

}  // namespace quarn
