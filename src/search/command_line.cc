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
#include "common/time_arg.h"

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

// What an option handler returns to let parsing go on; any other value is the exit
// status to end the program with.
constexpr int kGoOn = -1;

// -A or -B: a time bound.
int set_time_bound(int c, const char* arg, SearchOptions& o) {
  const auto t = parse_time_arg(arg);
  if (!t) {
    std::fprintf(stderr, search_msg::kInvalidTime, arg);
    return 1;
  }
  if (c == 'A') {
    o.after = *t;
    o.after_set = true;
  } else {
    o.before = *t;
    o.before_set = true;
  }
  return kGoOn;
}

// -f: the fileset; a later -f replaces an earlier one.
int set_fileset(const char* program, const char* path, Sources& s) {
  if (s.list) {
    std::fputs(search_msg::kFilesetAfterList, stderr);
    print_usage(program);
    return 1;
  }
  if (access(path, R_OK) != 0) {
    std::fprintf(stderr, search_msg::kFilesetAccess, path, std::strerror(errno));
    return 1;
  }
  s.set.reset();  // the old set is released before the new one is read
  s.set = fileset::create(path);
  return s.set ? kGoOn : 1;
}

// -l: one more index file.
int add_index_file(const char* program, const char* path, Sources& s) {
  if (s.set) {
    std::fputs(search_msg::kListAfterFileset, stderr);
    print_usage(program);
    return 1;
  }
  if (!s.list) s.list = std::make_unique<index_list>();
  if (!s.list->add(path)) {
    std::fprintf(stderr, search_msg::kFailedToAdd, path);
    return 1;
  }
  return kGoOn;
}

// -L: the result limit.
int set_limit(const char* arg, SearchOptions& o) {
  // Read like a C int and widened with its sign: -1 becomes the largest count.
  const auto limit = static_cast<int32_t>(std::strtol(arg, nullptr, 10));
  if (limit == 0) {
    std::fprintf(stderr, search_msg::kInvalidLimit, arg);
    return 1;
  }
  o.limit = static_cast<uint64_t>(static_cast<int64_t>(limit));
  return kGoOn;
}

int apply_option(int c, const char* program, SearchOptions& o, Sources& s,
                 const char** search) {
  switch (c) {
    case 'A':
    case 'B': return set_time_bound(c, optarg, o);
    case 'c': o.complete = true; return kGoOn;
    case 'f': return set_fileset(program, optarg, s);
    case 'g': o.glob = true; return kGoOn;
    case 'j': o.json = true; return kGoOn;
    case 'l': return add_index_file(program, optarg, s);
    case 'L': return set_limit(optarg, o);
    case 'r': o.raw = true; return kGoOn;
    case 's': *search = optarg; return kGoOn;
    case 't': o.timeout = std::strtod(optarg, nullptr); return kGoOn;
    case 'v': log_set_level(log_get_level() + 1); return kGoOn;
    default: print_usage(program); return 1;
  }
}

// The checks that need the whole command line.
int check_choices(const char* program, const SearchOptions& o, const Sources& s) {
  if (o.json && o.raw) {
    std::fputs(search_msg::kJsonAndRaw, stderr);
    return 1;
  }
  if (!s.set && !s.list) {
    std::fputs(search_msg::kNoSource, stderr);
    print_usage(program);
    return 1;
  }
  return kGoOn;
}

// Parses the command line into options and sources. Returns kGoOn, or the exit status
// to end the program with.
int parse_options(int argc, char** argv, SearchOptions& o, Sources& s, const char** search) {
  optind = 0;  // full re-initialisation, so the parser can run more than once per process
  int c;
  while ((c = getopt(argc, argv, kOptString)) != -1) {
    const int status = apply_option(c, argv[0], o, s, search);
    if (status != kGoOn) return status;
  }
  return check_choices(argv[0], o, s);
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
      std::fprintf(stderr, search_msg::kBadLogLevel, env);
    } else {
      log_set_level(level);
    }
  }

  Sources sources;
  const char* search = nullptr;
  const int status = parse_options(argc, argv, options, sources, &search);
  if (status != kGoOn) return status;

  log_write(log_get_level(), search_msg::kStarting, log_level_name(log_get_level()));
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
    QLOG(LOG_FAILURE, search_msg::kSearchFailed);
    return 1;
  }
  QLOG(LOG_INFO, search_msg::kExiting);
  return 0;
}

}  // namespace quarn
