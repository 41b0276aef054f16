// Writes the string table and line index of a unified index file through a stdio stream.
//
// write_string_table leaves the first 1,654,152 bytes (header, real nref table, trigram
// table) to be written later, aligns to 4096 (the string table thus starts at 1,654,784),
// copies every non-empty line with its line feed, aligns, writes the line index and
// aligns again. It is the building block for tools that fill the trigram table in a
// separate pass; IndexWriter (index_writer.h) produces a complete file in one go.
//
// Lines come from `text` (split at line feeds; a last line without a line feed is taken
// as if it had one) or, when `next_line` is set, from repeated calls until it returns
// false. Empty lines are dropped: a lone line feed in the table would be counted as a
// line by readers but has no number in the line index, shifting every later line.
//
// Result: 0 and the two sizes in *sizes, or -1 after printing the failing call ("fopen",
// "fseek", "fwrite", "ftell") with the system error to standard error; the file then
// stays as far as it was written. On success logs
// "Finished building unified string table/line offset index: %s" at level "info".
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace quarn {

struct SectionSizes {
  uint64_t string_table_size = 0;
  uint64_t line_index_size = 0;
};

// Gives the next line (without its line feed) or false at the end.
using LineGetter = std::function<bool(std::string_view* line)>;

int write_string_table(SectionSizes* sizes, std::string_view text, const LineGetter& next_line,
                       const char* path);

}  // namespace quarn
