// quarnlookup's command line and output loop; see lookup_cli.h.
#include "lookup_cli/lookup_cli.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/time_arg.h"
#include "lookup/lookup.h"
#include "lookup/lookup_query.h"
#include "lookup_cli/lookup_cli_messages.h"
#include "output/cof_output.h"
#include "output/output_buffer.h"
#include "retrieval/rrkit.h"
#include "store/store_reader.h"

namespace quarn {
namespace {

namespace msg = lookup_cli_msg;

struct Options {
  std::vector<std::string> stores;
  std::string set_file;
  const char* name = nullptr;
  const char* value = nullptr;
  bool self = false;
  bool json = false;
  bool complete = false;
  std::optional<int64_t> after, before;
  uint16_t rrtype = 0;
  long long limit = 10000;
  unsigned long long offset = 0;
};

bool parse_count(const char* text, long long* out) {
  char* end = nullptr;
  errno = 0;
  const long long v = strtoll(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno != 0 || v < -1) return false;
  *out = v;
  return true;
}

// 0 to go on, else the exit status.
int parse_options(int argc, char** argv, Options* o) {
  static const option kLong[] = {
      {"store", required_argument, nullptr, 'R'}, {"set", required_argument, nullptr, 'f'},
      {"name", required_argument, nullptr, 'n'},  {"value", required_argument, nullptr, 'V'},
      {"self", no_argument, nullptr, 'S'},        {"type", required_argument, nullptr, 't'},
      {"limit", required_argument, nullptr, 'L'}, {"offset", required_argument, nullptr, 'O'},
      {"json", no_argument, nullptr, 'j'},        {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  optind = 1;
  int c;
  long long n = 0;
  while ((c = getopt_long(argc, argv, "R:f:n:V:St:A:B:cL:O:jh", kLong, nullptr)) != -1) {
    switch (c) {
      case 'R': o->stores.push_back(optarg); break;
      case 'f': o->set_file = optarg; break;
      case 'n': o->name = optarg; break;
      case 'V': o->value = optarg; break;
      case 'S': o->self = true; break;
      case 'j': o->json = true; break;
      case 'c': o->complete = true; break;
      case 't':
        o->rrtype = rrkit_str_to_rrtype(optarg);
        if (o->rrtype == 0) return fprintf(stderr, msg::kBadType, optarg), 1;
        break;
      case 'A':
      case 'B': {
        const std::optional<int64_t> t = parse_time_arg(optarg);
        if (!t) return fprintf(stderr, msg::kBadTime, optarg, c), 1;
        (c == 'A' ? o->after : o->before) = t;
        break;
      }
      case 'L':
      case 'O':
        if (!parse_count(optarg, &n) || (c == 'O' && n < 0)) {
          return fprintf(stderr, msg::kBadNumber, optarg, c), 1;
        }
        if (c == 'L') o->limit = n;
        else o->offset = static_cast<unsigned long long>(n);
        break;
      case 'h': fputs(msg::kUsage, stdout); fputs(msg::kHelp, stdout); return -1;
      default: fputs(msg::kUsage, stderr); return 1;
    }
  }
  if (optind < argc || (o->name == nullptr) == (o->value == nullptr)) {
    fputs(msg::kNoTarget, stderr);
    fputs(msg::kUsage, stderr);
    return 1;
  }
  if (o->stores.empty() && o->set_file.empty()) return fputs(msg::kNoStore, stderr), 1;
  return 0;
}

bool read_set_file(const std::string& path, std::vector<std::string>* out) {
  std::ifstream in(path);
  if (!in) {
    fprintf(stderr, msg::kSetFile, path.c_str(), strerror(errno));
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string line;
  const size_t before = out->size();
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    out->push_back(line[0] == '/' ? line : dir + "/" + line);
  }
  if (out->size() == before) {
    fprintf(stderr, msg::kEmptySetFile, path.c_str());
    return false;
  }
  return true;
}

bool build_query(const Options& o, LookupQuery* q) {
  std::string error;
  const char* arg = o.name != nullptr ? o.name : o.value;
  const bool ok = o.name != nullptr ? parse_name_query(o.name, o.self, q, &error)
                                    : parse_value_query(o.value, o.rrtype, q, &error);
  if (!ok) {
    fprintf(stderr, msg::kArgumentError, error.c_str(), arg);
    return false;
  }
  if (o.self && q->kind != LookupKind::kSubtree) return fputs(msg::kSelfWithoutSubtree, stderr), false;
  q->rrtype = o.rrtype;
  // -A and -B keep records seen inside the window at all; with -c wholly inside it.
  if (o.after) {
    q->time.last_after_set = true;
    q->time.last_after = *o.after;
    if (o.complete) q->time.first_after_set = true, q->time.first_after = *o.after;
  }
  if (o.before) {
    q->time.first_before_set = true;
    q->time.first_before = *o.before;
    if (o.complete) q->time.last_before_set = true, q->time.last_before = *o.before;
  }
  q->limit = o.limit < 0 ? 0 : static_cast<uint64_t>(o.limit);
  q->offset = o.offset;
  return true;
}

// Prints every record of the lookup; false when it failed.
bool print_records(Lookup& lookup, bool json) {
  OutputBuffer out(stdout);
  CofWriter writer;
  std::string line;
  bool skipped = false;
  for (; lookup.valid(); lookup.next()) {
    line.clear();
    if (json) {
      if (!writer.append_json(line, lookup.record())) {
        fprintf(stderr, msg::kJsonSkipped, std::string(lookup.record().name).c_str());
        skipped = true;
        continue;
      }
    } else {
      writer.append_text(line, lookup.record());
    }
    out.append(line);
  }
  const bool written = out.flush();
  if (lookup.failed()) fprintf(stderr, msg::kLookupError, lookup.error().c_str());
  if (!written) fputs(msg::kOutputFailed, stderr);
  // A record left out makes the answer incomplete: say so in the exit status too.
  return !lookup.failed() && written && !skipped;
}

}  // namespace

int quarnlookup_main(int argc, char** argv) {
  Options o;
  if (const int status = parse_options(argc, argv, &o); status != 0) return status < 0 ? 0 : status;
  LookupQuery q;
  if (!build_query(o, &q)) return 1;
  std::vector<std::string> paths = o.stores;
  if (!o.set_file.empty() && !read_set_file(o.set_file, &paths)) return 1;
  std::vector<std::unique_ptr<RecordStore>> stores;
  std::vector<const RecordStore*> views;
  for (const std::string& p : paths) {
    std::string error;
    std::unique_ptr<RecordStore> s = RecordStore::open(p, &error);
    if (!s) return fprintf(stderr, msg::kLookupError, error.c_str()), 1;
    views.push_back(s.get());
    stores.push_back(std::move(s));
  }
  std::unique_ptr<Lookup> lookup = Lookup::start(views, q);
  return print_records(*lookup, o.json) ? 0 : 1;
}

}  // namespace quarn
