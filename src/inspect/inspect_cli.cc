// Option parsing and the main sequence of tginspect.
#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/trigram.h"
#include "index/index_messages.h"
#include "index/tgdb.h"
#include "inspect/inspect.h"
#include "inspect/inspect_messages.h"

namespace quarn {

namespace {

void usage(const char* prog, FILE* err) { fprintf(err, inspect_msg::kUsage, prog); }

// -L: strtoul with base 0, the whole argument consumed.
bool parse_line_number(const char* s, uint64_t* out) {
  if (*s == '\0' || *s == '-') return false;  // strtoul would wrap a negative number
  errno = 0;
  char* end = nullptr;
  unsigned long v = strtoul(s, &end, 0);
  if (errno != 0 || end == s || *end != '\0') return false;
  *out = v;
  return true;
}

// -O: a decimal ordinal, or (when that parses as 0) a trigram text.
long parse_ordinal(const char* s) {
  long v = strtol(s, nullptr, 10);
  if (v != 0) return v;
  uint8_t sym[3];
  size_t len = strlen(s);
  for (size_t i = 0; i < 3; ++i)
    sym[i] = i < len ? trigram_symbol(static_cast<unsigned char>(s[i])) : kSymbolOther;
  return static_cast<long>(trigram_ordinal_of_symbols(sym[0], sym[1], sym[2]));
}

}  // namespace

bool parse_inspect_args(int argc, char** argv, InspectOptions* opts, FILE* err, int* status) {
  const char* prog = argc > 0 ? argv[0] : "tginspect";
  *opts = InspectOptions();
  *status = 1;
  bool have_file = false;
  optind = 0;  // full reset, so that the parser can run more than once per process
  int c;
  while ((c = getopt(argc, argv, "l:L:O:vV")) != -1) {
    switch (c) {
      case 'l':
        opts->file = optarg;
        have_file = true;
        break;
      case 'L':
        if (!parse_line_number(optarg, &opts->line)) {
          fprintf(err, inspect_msg::kBadLine, optarg);
          return false;
        }
        break;
      case 'O':
        opts->ordinal = parse_ordinal(optarg);
        break;
      case 'v':
        ++opts->verbosity;
        break;
      case 'V':
        opts->gap_stats = true;
        break;
      default:
        usage(prog, err);
        return false;
    }
  }
  if (!have_file || (opts->line != 0 && optind < argc)) {
    usage(prog, err);
    return false;
  }
  if (opts->line != 0 && opts->ordinal >= 0) {
    fprintf(err, "%s", inspect_msg::kLAndO);
    return false;
  }
  // The dump indexes the trigram table by this number: anything past it is refused.
  if (opts->ordinal >= static_cast<long>(kTrigramCount)) {
    fprintf(err, inspect_msg::kOrdinalRange, opts->ordinal, kTrigramCount - 1);
    return false;
  }
  *status = 0;
  return true;
}

int inspect_main(int argc, char** argv, FILE* out, FILE* err) {
  InspectOptions opts;
  int status = 0;
  if (!parse_inspect_args(argc, argv, &opts, err, &status)) return status;

  fprintf(err, "%s", inspect_msg::kLoading);
  TgdbRef t = tgdb_load(opts.file);
  if (!t) {
    fprintf(err, index_msg::kLoadFailed, opts.file.c_str());
    fputc('\n', err);
    return 1;
  }
  if (opts.verbosity >= 1) print_header_report(*t, out);
  if (opts.gap_stats) {
    status = print_gap_stats(*t, out, err);
  } else if (opts.line != 0) {
    status = print_line(*t, opts.line, out, err);
  } else {
    status = dump_trigrams(*t, opts.ordinal, opts.verbosity, out, err);
    // A structural error ends the program at once, after what was printed so far.
    if (status != 0) return status;
  }
  t.reset();
  fprintf(err, "%s", inspect_msg::kExiting);
  return status;
}

}  // namespace quarn
