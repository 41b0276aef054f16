// The index build: passive-DNS observations in, an owner-name index, an rdata index
// and a record store (store_output.h) out.
//
// Order of use: fill BuildOptions, call run_build(); it returns true when every
// requested index was written. Phases: read every input line by line (JSON
// observations or raw index lines, plain or compressed), turn each accepted line into
// sorted-table entries keyed so that bytewise order is index order (key_codec.h), spill
// them in sorted runs within the memory budget, merge the runs (equal keys fold with
// merge_counts: counts add, earliest first, latest last), and stream the merged lines
// into the index writers. With a record store among the outputs (and none among the
// inputs), the indexes are derived from the store's entries rather than sorted apart:
// the same files, with a third of the sorting. Outputs appear under their final names
// only when all of them are complete; until then they live under temporary names that
// are removed on any failure or interruption. Existing outputs are refused unless
// `force` is set.
//
// With `threads` above 1, parser threads parse the lines of each input in batches
// (parse_pipeline.h) and the batches come back in input order, so the lines are
// counted, reported and spilled in exactly the order of a one-thread build; the spilled
// batches are sorted on as many threads (parallel_sort.h) into the same order. Every
// output and every report is therefore the same for any thread count; the final merge
// and the writers run on the calling thread.
//
// Malformed lines are skipped and counted; bad elements of an rdata array are left out
// alone (counted with the rdata values left out) while the rest of their line is kept.
// The first `max_reported` of these faults are reported on the report stream with file
// name, line number and reason, and every rejected line goes to the rejects file when
// one is asked for (reject_log.h; it is an output like the indexes); with `strict` the
// first fault ends the build. An unreadable input, a damaged compressed input (unless
// `skip_damaged`, which keeps its lines before the damage and warns), an output that
// exists, a write failure, or a requested index that would be empty end the build
// (false, *error says why, nothing is written). So does a memory budget the system
// cannot grant (kBuildErrNoMemory).
// Publishing is all or none and never replaces a file without `force` (publish.h), so
// of two builds racing for one output, the later one fails.
//
// Index files among the inputs (index_input.h) are mapped instead of read line by line:
// their lines join the final merge as one more sorted source each, so merging index
// files costs no sorting, and the result is the file a build from all their original
// observations gives. Each feeds the output of its kind; one of a kind not being built
// ends the build (kBuildErrIndexKind). A retention window (retention.h) drops
// observations and index aggregates outside it as they enter; each index's time fence
// is set from what remains. Last, a set file may list the new outputs and drop the
// index inputs (set_update.h); when that fails, the outputs stay published and the
// error says the set file is unchanged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "forge/input_record.h"
#include "forge/retention.h"

namespace quarn {

// Default sort budget: fits comfortably on a small machine and keeps runs large.
constexpr size_t kDefaultMemoryBudget = size_t{256} << 20;

struct BuildOptions {
  std::vector<std::string> inputs;  // empty: standard input ("-")
  std::string rrname_out;           // empty: no owner-name index
  std::string rdata_out;            // empty: no rdata index
  std::string records_out;          // empty: no record store (store_output.h)
  std::string rejects_out;          // empty: no rejects file
  InputFormat format = InputFormat::kAuto;
  size_t memory_budget = kDefaultMemoryBudget;
  bool force = false;
  bool strict = false;
  bool skip_damaged = false;  // keep a damaged input's lines before the damage
  bool progress = true;      // periodic progress lines and the final summary
  size_t max_reported = 10;  // malformed lines reported individually
  std::string tmpdir;        // empty: TMPDIR or /tmp
  double progress_interval = 5.0;  // seconds between progress lines
  FILE* report = stderr;     // progress, warnings and summary
  // Threads that parse the input lines and sort the runs; 1 parses on the calling thread
  // alone. Every output, and everything reported, is the same for any count.
  size_t threads = 1;
  // Index files as inputs (index_input.h): recognised by their magic, or every input
  // taken as one with index_inputs_only. Their lines merge with the observations.
  bool index_inputs_only = false;
  RetentionWindow retention;  // observations and aggregates kept (retention.h)
  std::string set_file;       // non-empty: list the outputs in it (set_update.h)
  bool replace = false;       // with set_file: drop the index inputs from it
  // Called as the build's results become visible: "staged" (every output complete
  // under its temporary name), "published" (under the final names), "set-staged" (the
  // new set file complete under its temporary name). Tests stop the process there.
  std::function<void(const char* step)> step_hook;
};

struct BuildStats {
  uint64_t inputs = 0;
  uint64_t lines = 0;           // lines read, blank ones included
  uint64_t records = 0;         // lines accepted
  uint64_t malformed = 0;       // lines rejected
  uint64_t rdata_skipped = 0;   // rdata values left out: bad array elements, and distinct
                                // values the rdata text rules leave out
  uint64_t rdata_skipped_records = 0;  // input records of those values
  uint64_t damaged_inputs = 0;  // inputs cut short by damage (with skip_damaged)
  uint64_t rrname_lines = 0;    // lines written per index
  uint64_t rdata_lines = 0;
  uint64_t rrname_bytes = 0;    // file sizes
  uint64_t rdata_bytes = 0;
  uint64_t store_records = 0;   // records of the record store, and its size
  uint64_t store_bytes = 0;
  uint64_t input_bytes = 0;     // bytes read from the input files (compressed size)
  uint64_t runs = 0;
  uint64_t index_inputs = 0;     // inputs that were index files
  uint64_t retention_dropped = 0;  // observations and aggregates outside the window
  double read_seconds = 0;
  double total_seconds = 0;
};

// Error texts of the build.
inline constexpr const char* kBuildErrNoOutput = "no output requested (use --rrname, --rdata and/or --records)";
inline constexpr const char* kBuildErrSameOutput = "the two outputs are the same file";
inline constexpr const char* kBuildErrRejectsIsOutput = "the rejects file is one of the index outputs";
inline constexpr const char* kBuildErrExists = "output file exists: %s (use --force to replace it)";
inline constexpr const char* kBuildErrStrict = "%s:%llu: %s";
inline constexpr const char* kBuildErrEmpty = "no records for the %s index %s";
inline constexpr const char* kBuildErrNoMemory =
    "not enough memory for the memory budget (try a smaller -m)";
inline constexpr const char* kBuildErrIndexKind =
    "input %s is an %s index, but no %s index is being built (%s)";
inline constexpr const char* kBuildErrStoreInput =
    "input %s is a record store, but no record store is being built (-R)";
inline constexpr const char* kBuildErrSetMixed =
    "--set lists files of one kind: build the record store and the indexes separately";
inline constexpr const char* kBuildErrIndexStdin = "standard input cannot be an index file";
inline constexpr const char* kBuildErrEmptyWindow =
    "the retention window is empty (--keep-after is later than --keep-before)";
inline constexpr const char* kBuildErrSetIsOutput = "the set file is one of the outputs";
inline constexpr const char* kBuildErrSetUpdate = "%s (the outputs are written, the set file is unchanged)";
inline constexpr const char* kBuildErrThreads = "cannot start the parser threads: %s";
inline constexpr const char* kBuildWarnLine = "Warning: %s:%llu: %s\n";
inline constexpr const char* kBuildWarnMore = "Warning: further malformed lines are not reported\n";
inline constexpr const char* kBuildWarnDamaged = "Warning: %s; the lines before it are kept\n";
inline constexpr const char* kBuildErrPrefix = "Error: ";

bool run_build(const BuildOptions& options, BuildStats* stats, std::string* error);

// The line a program prints for a build error: "Error: " and the text, which keeps its
// own prefix when it has one (the index writer's texts are complete as they stand).
std::string build_error_line(const std::string& error);

// How the memory budget is shared between the phases (build.cc explains the split).
// Sort budget of the reading phase (never below kMinSortBudget).
size_t sort_budget_of(size_t memory_budget);
// List budget of each index writer while `runs` sorted runs are merged into it (never
// below kMinListBudget).
size_t list_budget_of(size_t memory_budget, size_t runs);
// Smallest list budget given to a writer: below it the spill runs get so many that the
// reading back costs more than the memory saved.
constexpr size_t kMinListBudget = size_t{512} << 10;

// Writes the closing summary of a build to out.
void print_build_summary(FILE* out, const BuildOptions& options, const BuildStats& stats);

}  // namespace quarn
