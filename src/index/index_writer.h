// Writes a complete, valid index file from string-table lines given in index order.
//
// Order of use: IndexWriter::create(path, options, &error), then add_line() for every
// line (key TAB annotations, no line feed) in the kind's key order, then finish(&error).
// The file is built under a temporary name in the same directory ("<path>.tmp.<pid>")
// and renamed to path only by a successful finish(); a writer destroyed before that (or
// after any failure) removes the temporary file, so path never holds a half-written file.
//
// What it writes: header (flags unified | real_ref, plus rdata and timefence as asked),
// the real nref table (for each trigram, the number of lines its list stands for), the
// trigram table, the string table (each line with its line feed, from the first 4096
// boundary after the reserved tables on) and the line index (line_index_builder.h), each
// padded to a multiple of 4096, then the reference lists in ordinal order (format.h
// describes the layout). Every trigram of every key (the text
// before the tab, padded with two '^' on each side) lists the line, once. Lists use a
// range (10 bytes) for a run of five or more consecutive lines, offset compression for
// up to four lines within 16-bit gaps of a plain entry or range end, and plain entries
// otherwise.
//
// Checks (add_line fails and the writer refuses further lines): an empty line, a line
// without a tab, an empty key, a line feed inside the line, a line out of order (compare
// of the previous and this line > 0; equal keys are allowed), more than 2^37 lines,
// and finishing with no line at all (readers refuse an empty string table).
//
// Memory: the string table streams to the file; in memory stay the fixed tables of
// index_writer_fixed_bytes() (mostly an empty list head and one 8-byte last-line number
// per trigram, about 2.2 MB, and the 256 KiB output block) and each trigram's line
// numbers as delta varints (typically 1-2 bytes per reference, about 20-30 references
// per owner name). With a list budget, the delta lists are spilled whenever they pass
// it: all non-empty lists, in ordinal order, are appended as one run to a spill file in
// the temporary directory and memory is cleared; the line index, too, goes there in
// 64 KiB pieces. Lines arrive in ascending order, so each run holds, per trigram, line
// numbers above those of every earlier run. finish() first spills what is left in memory
// when there are runs (so the runs' read buffers share the budget alone), then streams
// each list as its run segments in run order plus what is still in memory through a
// RefEncoder into the file: no list is ever held whole, decoded or encoded. Each run is
// read through its own buffer of budget / runs bytes (at least 512, at most 64 KiB). The
// real nref and trigram tables are filled and written a block of ordinals at a time. The
// spill file is unlinked as soon as it is created, so it never outlives the writer,
// whatever way it ends. The file written is the same byte for byte with or without
// spilling. So with a budget B and R runs the writer holds at most about
// B + index_writer_fixed_bytes() (+ 512 R when B / R < 512); without a budget the lists
// and the line index grow with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quarn {

enum class IndexKind { kRrname, kRdata };

// Three-way comparison of two whole lines (key TAB annotations): negative, 0, positive.
using KeyCompare = std::function<int(std::string_view, std::string_view)>;

struct IndexWriterOptions {
  IndexKind kind = IndexKind::kRrname;
  bool timefence = false;
  uint32_t earliest_seen = 0;
  uint32_t latest_seen = 0;
  // Order check. Empty: name_order for rrname files; rdata files are not checked.
  KeyCompare compare;
  // Bytes the in-memory reference lists may take before they are spilled; 0: no limit.
  // The writer's fixed tables (index_writer_fixed_bytes()) come on top of it.
  size_t list_budget = 0;
  // Where the spill file goes. Empty: TMPDIR, or /tmp when TMPDIR is unset or empty.
  std::string tmpdir;
};

class IndexWriter {
 public:
  // Opens the temporary output file. nullptr and *error set when it cannot be created.
  static std::unique_ptr<IndexWriter> create(const std::string& path,
                                             const IndexWriterOptions& options,
                                             std::string* error);
  ~IndexWriter();
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  // Adds the next line. false and *error set on refusal or a write failure.
  bool add_line(std::string_view line, std::string* error);
  // Writes everything else and renames the file into place. false and *error on failure.
  bool finish(std::string* error);
  // Replaces the time fence of the options (and turns it on); the header is written by
  // finish(), so a fence known only once every line is in may be set up to then.
  void set_time_fence(uint32_t earliest, uint32_t latest);

  uint64_t line_count() const;
  // Runs spilled so far (0 when the lists stayed within the budget).
  uint64_t spill_runs() const;

  class Impl;

 private:
  explicit IndexWriter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Bytes a writer holds whatever its input and list budget: the per-trigram tables and
// its I/O buffers. A caller that fits the writer into a memory limit subtracts this.
size_t index_writer_fixed_bytes();

// Convenience: writes all lines of `text` (line-feed separated; a final line feed is
// optional) into path. false and *error on any failure.
bool write_index_from_text(const std::string& path, std::string_view text,
                           const IndexWriterOptions& options, std::string* error);

}  // namespace quarn
