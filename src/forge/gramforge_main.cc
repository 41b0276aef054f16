// gramforge: builds index files from passive-DNS observations. Parses the command line
// and runs the build; everything else lives in the quarn_forge library.
#include <getopt.h>
#include <malloc.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <thread>

#include "forge/build.h"
#include "forge/temp_files.h"
#include "common/log.h"
#include "common/time_arg.h"

namespace {

constexpr const char* kUsage =
    "Usage: gramforge [options] [input ...]\n";

constexpr const char* kHelp =
    "Builds trigram index files and record stores from passive-DNS observations.\n"
    "\n"
    "Inputs are files or standard input (no file, or \"-\"), plain or compressed with\n"
    "gzip, zstd or xz (recognised by content), holding one observation per line: a\n"
    "JSON object with rrname, rrtype, rdata, time_first, time_last and count\n"
    "(zone_time_first/zone_time_last when the first two are missing; one time alone\n"
    "is taken for both), or a raw index line \"key<TAB>annotation\" as quarnsearch -r\n"
    "prints it, whose owner-name key is lower-cased and loses one trailing dot as a\n"
    "JSON rrname does. Index files (recognised by content) are inputs too: their lines\n"
    "merge with the rest as observations do, an owner-name index into -o, an rdata\n"
    "index into -d.\n"
    "\n"
    "Options:\n"
    "  -o, --rrname FILE     write the owner-name index to FILE\n"
    "  -d, --rdata FILE      write the rdata index to FILE\n"
    "  -R, --records FILE    write a record store (every name, type and value with\n"
    "                        times, count and bailiwick) to FILE, for quarnlookup\n"
    "  -F, --format FMT      input format: auto (default, per line), cof, raw, or tgdb\n"
    "                        (every input is an index file)\n"
    "  -m, --memory MIB      memory budget for sorting and index writing, in MiB\n"
    "                        (default 256)\n"
    "      --threads N       threads that parse and sort (default: the number of\n"
    "                        cores); the outputs are the same for every N\n"
    "      --force           replace existing output files\n"
    "      --strict          stop at the first malformed input line\n"
    "      --rejects FILE    write every malformed line to FILE (tab-separated: input,\n"
    "                        line number, reason, the line with \\t \\n \\r \\\\ escaped)\n"
    "      --skip-damaged    keep the lines of a damaged compressed input up to the\n"
    "                        damage, with a warning, instead of ending the build\n"
    "      --keep-after TIME   drop observations last seen before TIME\n"
    "      --keep-before TIME  drop observations first seen after TIME (TIME as for\n"
    "                        quarnsearch -A/-B; an aggregate that overlaps the window\n"
    "                        is kept whole)\n"
    "      --set FILE        add the outputs to set FILE (created if missing), replacing\n"
    "                        it atomically\n"
    "      --replace         with --set: remove the index inputs from the set file\n"
    "  -q, --quiet           no progress lines and no summary\n"
    "  -v, --verbose         raise the log level (repeatable)\n"
    "  -h, --help            show this help\n"
    "\n"
    "Temporary files go to TMPDIR (default /tmp) and are removed in every case. Outputs\n"
    "appear under their names only when complete. Exit status: 0 when every requested\n"
    "output was written, 1 otherwise.\n";

// Options without a short letter: -f and -s mean a fileset and a search to quarnsearch,
// so gramforge gives force and strict no letter rather than another meaning.
enum LongOnly {
  kOptForce = 256,
  kOptStrict,
  kOptRejects,
  kOptSkipDamaged,
  kOptKeepAfter,
  kOptKeepBefore,
  kOptSet,
  kOptReplace,
  kOptThreads
};

// More parser threads than this would only add batches in flight.
constexpr unsigned long long kMaxThreads = 256;

// Names the step at which the process kills itself (SIGKILL, as a crash or kill -9
// would), so that tests can check what a build interrupted there leaves behind.
constexpr const char* kKillAtEnv = "GRAMFORGE_KILL_AT";

bool parse_bound(const char* text, int64_t* out) {
  const auto t = quarn::parse_time_arg(text);
  if (!t) return false;
  *out = *t;
  return true;
}

bool parse_size(const char* text, unsigned long long max, unsigned long long* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v == 0 || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quarn;
  // Reading a record's rdata allocates and frees small blocks at the top of the heap, and
  // with the default trim threshold every free gave the top back to the kernel and the
  // next allocation took it again: two brk calls per input line, most of a build's time.
  // Keeping up to 64 MiB of free top costs nothing beside the memory budget.
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
  if (const char* lvl = getenv("QUARN_LOGLEVEL")) {
    const int level = log_parse_level(lvl);
    if (level >= 0) log_set_level(level);
  }
  log_set_prefix("gramforge");
  BuildOptions opt;
  opt.threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
  static const option kLong[] = {
      {"rrname", required_argument, nullptr, 'o'}, {"rdata", required_argument, nullptr, 'd'},
      {"records", required_argument, nullptr, 'R'},
      {"format", required_argument, nullptr, 'F'}, {"memory", required_argument, nullptr, 'm'},
      {"force", no_argument, nullptr, kOptForce},  {"strict", no_argument, nullptr, kOptStrict},
      {"rejects", required_argument, nullptr, kOptRejects},
      {"skip-damaged", no_argument, nullptr, kOptSkipDamaged},
      {"keep-after", required_argument, nullptr, kOptKeepAfter},
      {"keep-before", required_argument, nullptr, kOptKeepBefore},
      {"set", required_argument, nullptr, kOptSet},
      {"replace", no_argument, nullptr, kOptReplace},
      {"threads", required_argument, nullptr, kOptThreads},
      {"quiet", no_argument, nullptr, 'q'},        {"verbose", no_argument, nullptr, 'v'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "o:d:R:F:m:qvh", kLong, nullptr)) != -1) {
    unsigned long long v = 0;
    switch (c) {
      case 'o': opt.rrname_out = optarg; break;
      case 'd': opt.rdata_out = optarg; break;
      case 'R': opt.records_out = optarg; break;
      case 'F':
        if (strcmp(optarg, "auto") == 0) {
          opt.format = InputFormat::kAuto;
        } else if (strcmp(optarg, "cof") == 0) {
          opt.format = InputFormat::kCof;
        } else if (strcmp(optarg, "raw") == 0) {
          opt.format = InputFormat::kRaw;
        } else if (strcmp(optarg, "tgdb") == 0) {
          opt.index_inputs_only = true;
        } else {
          fprintf(stderr, "Error: unknown input format: %s\n%s", optarg, kUsage);
          return 1;
        }
        break;
      case 'm':
        if (!parse_size(optarg, 1ull << 30, &v)) {
          fprintf(stderr, "Error: invalid memory budget: %s\n%s", optarg, kUsage);
          return 1;
        }
        opt.memory_budget = static_cast<size_t>(v) << 20;
        break;
      case kOptForce: opt.force = true; break;
      case kOptStrict: opt.strict = true; break;
      case kOptRejects: opt.rejects_out = optarg; break;
      case kOptSkipDamaged: opt.skip_damaged = true; break;
      case kOptKeepAfter:
      case kOptKeepBefore:
        if (!parse_bound(optarg, c == kOptKeepAfter ? &opt.retention.after
                                                    : &opt.retention.before)) {
          fprintf(stderr, "Error: invalid time: %s\n%s", optarg, kUsage);
          return 1;
        }
        break;
      case kOptSet: opt.set_file = optarg; break;
      case kOptReplace: opt.replace = true; break;
      case kOptThreads:
        if (!parse_size(optarg, kMaxThreads, &v)) {
          fprintf(stderr, "Error: invalid thread count: %s (1 to %llu)\n%s", optarg,
                  kMaxThreads, kUsage);
          return 1;
        }
        opt.threads = static_cast<size_t>(v);
        break;
      case 'q': opt.progress = false; break;
      case 'v': log_set_level(log_get_level() + 1); break;
      case 'h': fputs(kUsage, stdout); fputs(kHelp, stdout); return 0;
      default: fputs(kUsage, stderr); return 1;
    }
  }
  for (int i = optind; i < argc; ++i) opt.inputs.push_back(argv[i]);
  if (opt.replace && opt.set_file.empty()) {
    fprintf(stderr, "Error: --replace needs --set\n%s", kUsage);
    return 1;
  }
  if (const char* kill_at = getenv(kKillAtEnv)) {
    const std::string at = kill_at;
    opt.step_hook = [at](const char* step) {
      if (at == step) raise(SIGKILL);
    };
  }
  TempFiles::install_cleanup_handlers();
  BuildStats stats;
  std::string error;
  if (!run_build(opt, &stats, &error)) {
    fprintf(stderr, "%s\n", build_error_line(error).c_str());
    return 1;
  }
  if (opt.progress) print_build_summary(stderr, opt, stats);
  return 0;
}
