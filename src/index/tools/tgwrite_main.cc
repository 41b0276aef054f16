// tgwrite: builds an index file from string-table lines that are already in index order.
//
//   tgwrite -o out.tgdb [-r] [-t first,last] [input]
//
// Reads lines (key TAB annotations) from input or standard input; -r marks an rdata
// index; -t sets the time fence (seconds since 1970). A small tool for sample data and
// tests; building from raw observations is the index builder's job.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "index/index_writer.h"
#include "retrieval/rdata_order.h"

namespace {

void usage(const char* prog) {
  fprintf(stderr, "Usage: %s -o <output> [-r] [-t <first>,<last>] [input]\n", prog);
}

}  // namespace

int main(int argc, char** argv) {
  quarn::IndexWriterOptions opts;
  std::string out;
  int c;
  while ((c = getopt(argc, argv, "o:rt:")) != -1) {
    switch (c) {
      case 'o':
        out = optarg;
        break;
      case 'r':
        opts.kind = quarn::IndexKind::kRdata;
        // rdata lines must arrive in the order the search merges them in.
        opts.compare = [](std::string_view a, std::string_view b) {
          return quarn::rdata_line_compare(a, b);
        };
        break;
      case 't': {
        unsigned long a = 0, b = 0;
        char tail = 0;
        if (sscanf(optarg, "%lu,%lu%c", &a, &b, &tail) != 2 || a > b || b > 0xFFFFFFFFul) {
          fprintf(stderr, "Error: invalid time fence: %s\n", optarg);
          return 1;
        }
        opts.timefence = true;
        opts.earliest_seen = static_cast<uint32_t>(a);
        opts.latest_seen = static_cast<uint32_t>(b);
        break;
      }
      default:
        usage(argv[0]);
        return 1;
    }
  }
  if (out.empty() || argc - optind > 1) {
    usage(argv[0]);
    return 1;
  }
  FILE* in = stdin;
  if (optind < argc) {
    in = fopen(argv[optind], "r");
    if (in == nullptr) {
      fprintf(stderr, "Error: cannot open %s: %s\n", argv[optind], strerror(errno));
      return 1;
    }
  }
  std::string error;
  auto w = quarn::IndexWriter::create(out, opts, &error);
  if (!w) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  char* line = nullptr;
  size_t cap = 0;
  ssize_t len;
  bool ok = true;
  while (ok && (len = getline(&line, &cap, in)) >= 0) {
    if (len > 0 && line[len - 1] == '\n') --len;
    ok = w->add_line(std::string_view(line, static_cast<size_t>(len)), &error);
  }
  free(line);
  if (in != stdin) fclose(in);
  if (ok) ok = w->finish(&error);
  if (!ok) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  fprintf(stderr, "Wrote %lu lines to %s\n", static_cast<unsigned long>(w->line_count()), out.c_str());
  return 0;
}
