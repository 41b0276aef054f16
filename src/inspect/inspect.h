// The tginspect program as a library: option parsing, the main sequence, and the reports
// it prints from a loaded index (header, per-trigram dump, gap statistics, one line).
//
// Order of use: inspect_main(argc, argv, out, err) does everything and returns the exit
// status; the pieces below are exposed so that tests and the fuzzer can run them on an
// index loaded in-process. Results go to `out`; progress, the line address and every
// error go to `err`. Nothing here exits the process or writes files.
//
// Every report treats the file as untrusted: lists are walked inside their checked
// bounds (the loader guarantees them), and a structurally bad list stops the dump with
// an "Error in trigram database: ..." line and status 1 after the output printed so far.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace quarn {

class Tgdb;

struct InspectOptions {
  std::string file;        // -l
  uint64_t line = 0;       // -L; 0 = not given
  long ordinal = -1;       // -O; negative = every trigram
  int verbosity = 0;       // -v count
  bool gap_stats = false;  // -V
};

// Parses the command line. false when the program must stop; *status is then its exit
// status (usage and option errors print their message to err and give 1).
bool parse_inspect_args(int argc, char** argv, InspectOptions* opts, FILE* err, int* status);

// The whole program; returns the exit status.
int inspect_main(int argc, char** argv, FILE* out, FILE* err);

// Header report: flags, header length, section sizes and the time range.
void print_header_report(const Tgdb& t, FILE* out);
// Per-trigram dump of every trigram (ordinal < 0) or of one; 0, or 1 on a structural
// error (message on err), a range reaching past the index's last line among them.
int dump_trigrams(const Tgdb& t, long ordinal, int verbosity, FILE* out, FILE* err);
// Reference gap statistics; always 0 (odd sequences only warn).
int print_gap_stats(const Tgdb& t, FILE* out, FILE* err);
// Prints line n; 0, or 1 when it cannot be found.
int print_line(const Tgdb& t, uint64_t n, FILE* out, FILE* err);

}  // namespace quarn
