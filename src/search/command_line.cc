#include "search/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/log.h"
#include "common/strfmt.h"
#include "output/output_buffer.h"
#include "retrieval/data_source.h"
#include "search/messages.h"
#include "search/run_search.h"
#include "search/search_options.h"
#include "search/time_arg.h"

namespace quarn {
namespace {

constexpr const char* kOptString = "A:B:cf:gjl:L:rs:t:v";
constexpr const char* kLogLevelVariable = "QUARN_LOGLEVEL";

void print_usage(const char* program) { std::fputs(usage_text(program).c_str(), stderr); }

// The data sources built from the command line; at most one of them is used.
struct Sources {
  std::unique_ptr<fileset> set;
  std::unique_ptr<index_list> list;
};

// Parses the command line into options and sources. Returns -1 to go on, or the exit
// status to end the program with.
int parse_options(int argc, char** argv, SearchOptions& o, Sources& s, const char** search) {
  const char* program = argv[0];
  optind = 0;  // full re-initialisation, so the parser can run more than once per process
  int c;
  while ((c = getopt(argc, argv, kOptString)) != -1) {
    switch (c) {
      case 'A':
      case 'B': {
        const auto t = parse_time_arg(optarg);
        if (!t) {
          std::fprintf(stderr, msg::kInvalidTime, optarg);
          return 1;
        }
        if (c == 'A') {
          o.after = *t;
          o.after_set = true;
        } else {
          o.before = *t;
          o.before_set = true;
        }
        break;
      }
      case 'c':
        o.complete = true;
        break;
      case 'f':
        if (s.list) {
          std::fputs(msg::kFilesetAfterList, stderr);
          print_usage(program);
          return 1;
        }
        if (access(optarg, R_OK) != 0) {
          std::fprintf(stderr, msg::kFilesetAccess, optarg, std::strerror(errno));
          return 1;
        }
        s.set.reset();  // a later -f replaces an earlier one
        s.set = fileset::create(optarg);
        if (!s.set) return 1;
        break;
      case 'g':
        o.glob = true;
        break;
      case 'j':
        o.json = true;
        break;
      case 'l':
        if (s.set) {
          std::fputs(msg::kListAfterFileset, stderr);
          print_usage(program);
          return 1;
        }
        if (!s.list) s.list = std::make_unique<index_list>();
        if (!s.list->add(optarg)) {
          std::fprintf(stderr, msg::kFailedToAdd, optarg);
          return 1;
        }
        break;
      case 'L': {
        // Read like a C int and widened with its sign: -1 becomes the largest count.
        const auto limit = static_cast<int32_t>(std::strtol(optarg, nullptr, 10));
        if (limit == 0) {
          std::fprintf(stderr, msg::kInvalidLimit, optarg);
          return 1;
        }
        o.limit = static_cast<uint64_t>(static_cast<int64_t>(limit));
        break;
      }
      case 'r':
        o.raw = true;
        break;
      case 's':
        *search = optarg;
        break;
      case 't':
        o.timeout = std::strtod(optarg, nullptr);
        break;
      case 'v':
        log_set_level(log_get_level() + 1);
        break;
      default:
        print_usage(program);
        return 1;
    }
  }
  if (o.json && o.raw) {
    std::fputs(msg::kJsonAndRaw, stderr);
    return 1;
  }
  if (!s.set && !s.list) {
    std::fputs(msg::kNoSource, stderr);
    print_usage(program);
    return 1;
  }
  return -1;
}

}  // namespace

std::string usage_text(const char* p) {
  std::string u = "\n";
  append_fmt(u,
             "Usage: %s <-f fileset | -l idxfile [-l idxfile2 ...]> [-s search_expr] [-g] [-j | -r] "
             "[-L #limit] [-t timeout] [-v[v]]\n",
             p);
  u += "-f  performs a search against the contents of a tgdb fileset.\n";
  u += "-l  specifies that the trigram index be loaded from the specified file or files, for "
       "multi-search.\n";
  u += "-s  indicates an optional search string; otherwise, input will be read from stdin.\n";
  u += "-g  enables globbing mode (default is regular expressions).\n";
  u += "-j  enables output of results in json mode (ala quarnbackendd).\n";
  u += "-r  produces results in raw mode (as intermediate data).\n";
  u += "-t  specify timeout in seconds since last search result. May be a decimal number for "
       "sub-second timeout.\n";
  append_fmt(u, "-L  specifies a limit for results in search mode (default = %zu).\n",
             static_cast<size_t>(kDefaultResultLimit));
  u += "-v  can be specified multiple times and increases output verbosity.\n";
  u += "-A  specifies time after.\n";
  u += "-B  specifies time before.\n";
  u += "-c  selects 'complete' time matching.\n";
  append_fmt(u, "Ex. 1: %s -l /path/to/index\n", p);
  append_fmt(u, "Ex. 2: %s -l /path/to/index1 -l /path/to/index2\n\n", p);
  return u;
}

int quarnsearch_main(int argc, char** argv) {
  SearchOptions options;
  log_set_prefix("%s", argv[0]);
  log_set_level(LOG_INFO);
  if (const char* env = std::getenv(kLogLevelVariable)) {
    const int level = log_parse_level(env);
    if (level < 0) {
      std::fprintf(stderr, msg::kBadLogLevel, env);
    } else {
      log_set_level(level);
    }
  }

  Sources sources;
  const char* search = nullptr;
  const int status = parse_options(argc, argv, options, sources, &search);
  if (status >= 0) return status;

  log_write(log_get_level(), msg::kStarting, log_level_name(log_get_level()));
  options.source = sources.set ? static_cast<data_source*>(sources.set.get())
                               : static_cast<data_source*>(sources.list.get());

  bool ok;
  {
    OutputBuffer out(stdout);
    ok = search != nullptr ? run_search(options, search, out)
                           : run_search_stream(options, stdin, out);
    ok = out.flush() && ok;
  }
  sources.set.reset();
  sources.list.reset();

  if (!ok) {
    QLOG(LOG_FAILURE, msg::kSearchFailed);
    return 1;
  }
  QLOG(LOG_INFO, msg::kExiting);
  return 0;
}

}  // namespace quarn
