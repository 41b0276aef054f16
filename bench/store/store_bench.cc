// Record store benchmark: write time and size beside the rdata index of the same
// records, and lookup speed in-process.
//
//   build/bin/store_bench [records (default 1000000)] [directory (default /tmp)]
//   build/bin/store_bench --open STORE NAMES_FILE [name=GLOB | value=TEXT | ns=TEXT]...
//
// The second form times lookups in an existing store (one gramforge -R wrote): exact
// names drawn from NAMES_FILE (one name a line, as the owner-name index holds them), then
// each further query (a name or "*.zone" subtree, an rdata value or A/AAAA prefix of any
// type, or a name-server value) five times after one untimed warm-up run, then five times
// more writing each record as a COF JSON line ("+JSON"), as the lookup service does.
//
// Records look like passive DNS: hosts under generated zones with A records clustered in
// a few /16 networks, NS records on a few thousand name servers (one hoster serves a
// large share), MX, CNAME and TXT records; plus one zone with 10,000 hosts for the
// subtree measurement. They are generated and sorted before the clock starts. Reported:
// store write time and size, rdata index write time and size (built from the store's
// distinct values, one line each, as the index builder writes them), exact-name lookup
// latency (mean and p50 over 20,000 random names, all records of each name read), and
// records per second for a 10,000-name subtree, every /24 of the busiest /16, and the
// busiest name server.
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "index/index_writer.h"
#include "lookup/lookup.h"
#include "output/cof_output.h"
#include "retrieval/rrkit.h"
#include "retrieval/annotation.h"
#include "retrieval/rdata_order.h"
#include "store/store_cursors.h"
#include "store/store_writer.h"
#include "store/value_order.h"

namespace {

using namespace quarn;
using Clock = std::chrono::steady_clock;

struct Rec {
  std::string name;
  uint16_t type;
  std::string raw;
  int64_t tf, tl;
  uint64_t count;
};

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The wire form of a dotted name, through the one text-to-wire conversion.
std::string wire(const std::string& dotted) {
  std::string out;
  if (!rrkit_str_to_rdata(2 /* NS */, dotted + ".", &out)) std::abort();
  return out;
}

std::vector<Rec> generate(size_t count) {
  std::mt19937_64 rng(1);
  auto pick = [&](uint64_t n) { return rng() % n; };
  static const char* const kSyl[] = {"al", "an", "ar", "be", "bo", "ca", "co", "da", "de",
                                     "el", "en", "fa", "fi", "ga", "go", "in", "ka", "ko",
                                     "la", "li", "ma", "mi", "mo", "na", "no", "pa", "ra"};
  static const char* const kTld[] = {"com", "net", "org", "de", "uk", "io", "info", "nl"};
  static const char* const kHost[] = {"www", "mail", "api", "cdn", "dev", "m", "shop", "vpn"};
  auto word = [&] {
    std::string w;
    for (uint64_t n = 2 + pick(3); n > 0; --n) w += kSyl[pick(27)];
    return w;
  };
  std::vector<Rec> out;
  out.reserve(count + 20000);
  auto add = [&](const std::string& name) {
    const int64_t tf = 1700000000 + static_cast<int64_t>(pick(30 * 86400));
    const int64_t tl = tf + static_cast<int64_t>(pick(30 * 86400));
    const uint64_t c = 1 + pick(500);
    std::string a = {static_cast<char>(pick(10) < 6 ? 185 : 20 + pick(200)),
                     static_cast<char>(pick(10) < 6 ? 220 : pick(256)),
                     static_cast<char>(pick(256)), static_cast<char>(pick(256))};
    out.push_back({name, 1, a, tf, tl, c});
    switch (pick(4)) {
      case 0: out.push_back({name, 5, wire("edge" + std::to_string(pick(5000)) + ".cdn.net"), tf, tl, c}); break;
      case 1: out.push_back({name, 15, std::string("\0\x0a", 2) + wire("mx" + std::to_string(pick(3000)) + ".mail.com"), tf, tl, c}); break;
      case 2: {
        const std::string t = "v=spf1 include:" + std::to_string(pick(20000)) + ".spf.net";
        out.push_back({name, 16, std::string(1, static_cast<char>(t.size())) + t, tf, tl, c});
        break;
      }
      default: break;
    }
  };
  for (int i = 0; i < 10000; ++i) add(word() + "." + word() + ".bigzone.com");
  while (out.size() < count) {
    const std::string zone = word() + word() + "." + kTld[pick(8)];
    const std::string ns = pick(5) == 0 ? "ns1.hoster.net" : "ns" + std::to_string(pick(4000)) + ".dns.net";
    out.push_back({zone, 2, wire(ns), 1700000000, 1702000000, 1 + pick(50)});
    add(zone);
    for (uint64_t h = pick(3); h > 0; --h) add(std::string(kHost[pick(8)]) + "." + zone);
  }
  std::sort(out.begin(), out.end(), [](const Rec& a, const Rec& b) {
    return record_order(a.name, a.type, a.raw, b.name, b.type, b.raw) < 0;
  });
  out.erase(std::unique(out.begin(), out.end(), [](const Rec& a, const Rec& b) {
              return a.name == b.name && a.type == b.type && a.raw == b.raw;
            }), out.end());
  return out;
}

// The rdata index of the store's distinct values, as the builder writes its lines.
bool write_rdata_index(const RecordStore& store, const std::string& path) {
  IndexWriterOptions opt;
  opt.kind = IndexKind::kRdata;
  std::string error;
  auto w = IndexWriter::create(path, opt, &error);
  if (!w) return fprintf(stderr, "%s\n", error.c_str()), false;
  ValueCursor v(store);
  std::string line;
  v.seek_first();
  while (v.valid()) {
    rrtype_summary s{v.value_type(), 0, v.record().time_first, v.record().time_last};
    line.assign(v.record().text);
    line.push_back('\t');
    append_raw_rdata(line, std::span(reinterpret_cast<const uint8_t*>(v.value_raw().data()),
                                     v.value_raw().size()));
    const uint64_t rank_raw_size = v.value_raw().size();
    const std::string raw(v.value_raw());
    const uint16_t type = v.value_type();
    while (v.valid() && v.value_type() == type && v.value_raw().size() == rank_raw_size &&
           v.value_raw() == raw) {
      s.count += v.record().count;
      s.time_first = std::min(s.time_first, v.record().time_first);
      s.time_last = std::max(s.time_last, v.record().time_last);
      v.next();
    }
    line.push_back(' ');
    append_annotation_token(line, s);
    if (!w->add_line(line, &error)) return fprintf(stderr, "%s\n", error.c_str()), false;
  }
  if (!w->finish(&error)) return fprintf(stderr, "%s\n", error.c_str()), false;
  return true;
}

long file_size(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  fseek(f, 0, SEEK_END);
  const long n = ftell(f);
  fclose(f);
  return n;
}

// Runs the query and returns the number of records it gives; with `cof` each record is
// also written as a COF JSON line, into a buffer emptied every 64 KiB as a server's is.
uint64_t drain(const RecordStore& s, const LookupQuery& q, CofWriter* cof = nullptr) {
  const RecordStore* stores[] = {&s};
  auto l = Lookup::start(stores, q);
  uint64_t n = 0;
  std::string out;
  for (; l->valid(); l->next()) {
    ++n;
    if (cof == nullptr) continue;
    if (!cof->append_json(out, l->record())) fprintf(stderr, "record not writable as JSON\n");
    if (out.size() >= 65536) out.clear();
  }
  if (l->failed()) fprintf(stderr, "%s\n", l->error().c_str());
  return n;
}

// Process CPU seconds: the machine may be shared, so rates are given per CPU second too.
double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void report_rate(const char* what, const RecordStore& s, const std::vector<LookupQuery>& qs,
                 CofWriter* cof = nullptr) {
  const auto t = Clock::now();
  const double c = cpu_seconds();
  uint64_t n = 0;
  for (const LookupQuery& q : qs) n += drain(s, q, cof);
  const double sec = seconds_since(t), cpu = cpu_seconds() - c;
  printf("%-28s %10llu records %8.3f s %12.0f records/s (%.0f per CPU second)\n", what,
         static_cast<unsigned long long>(n), sec, static_cast<double>(n) / sec,
         static_cast<double>(n) / cpu);
}

// Mean, p50 and p99 latency and CPU time of one lookup per name, all records read.
void report_exact(const RecordStore& store, const std::vector<std::string>& names) {
  std::mt19937_64 rng(2);
  std::vector<double> lat;
  uint64_t found = 0;
  const double cpu_start = cpu_seconds();
  for (int i = 0; i < 20000; ++i) {
    LookupQuery q;
    q.name = names[rng() % names.size()];
    const auto s = Clock::now();
    found += drain(store, q);
    lat.push_back(seconds_since(s) * 1e6);
  }
  const double cpu_per_lookup = (cpu_seconds() - cpu_start) / 20000 * 1e6;
  std::sort(lat.begin(), lat.end());
  double sum = 0;
  for (double v : lat) sum += v;
  printf("exact name lookup            mean %.2f us, p50 %.2f us, p99 %.2f us, %.2f CPU us "
         "(%.2f records each)\n",
         sum / static_cast<double>(lat.size()), lat[lat.size() / 2], lat[lat.size() * 99 / 100],
         cpu_per_lookup, static_cast<double>(found) / static_cast<double>(lat.size()));
}

// "name=GLOB", "value=TEXT" (any type) or "ns=TEXT" (type NS) as a lookup query.
bool parse_bench_query(const std::string& arg, LookupQuery* q, std::string* error) {
  const size_t eq = arg.find('=');
  const std::string kind = arg.substr(0, eq == std::string::npos ? 0 : eq);
  const std::string text = eq == std::string::npos ? "" : arg.substr(eq + 1);
  if (kind == "name") return parse_name_query(text, false, q, error);
  if (kind == "value") return parse_value_query(text, 0, q, error);
  if (kind == "ns") return parse_value_query(text, 2, q, error);
  *error = "query must be name=..., value=... or ns=...: " + arg;
  return false;
}

int run_open(int argc, char** argv) {
  if (argc < 4) return fprintf(stderr, "usage: store_bench --open STORE NAMES [query...]\n"), 2;
  std::string error;
  auto store = RecordStore::open(argv[2], &error);
  if (!store) return fprintf(stderr, "%s\n", error.c_str()), 1;
  std::vector<std::string> names;
  FILE* f = fopen(argv[3], "r");
  if (f == nullptr) return perror(argv[3]), 1;
  char line[1024];
  while (fgets(line, sizeof line, f) != nullptr) {
    names.emplace_back(line, strcspn(line, "\n"));
  }
  fclose(f);
  if (names.empty()) return fprintf(stderr, "%s: no names\n", argv[3]), 1;
  report_exact(*store, names);
  for (int i = 4; i < argc; ++i) {
    LookupQuery q;
    if (!parse_bench_query(argv[i], &q, &error)) return fprintf(stderr, "%s\n", error.c_str()), 1;
    drain(*store, q);  // warm-up: the pages this query reads
    const auto t = Clock::now();
    const uint64_t n = drain(*store, q);
    printf("%-28s %10llu records %10.1f us first timed run\n", argv[i],
           static_cast<unsigned long long>(n), seconds_since(t) * 1e6);
    report_rate(argv[i], *store, std::vector<LookupQuery>(5, q));
    CofWriter cof;
    const std::string as_json = std::string(argv[i]) + " +JSON";
    report_rate(as_json.c_str(), *store, std::vector<LookupQuery>(5, q), &cof);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--open") return run_open(argc, argv);
  const size_t count = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string store_path = dir + "/store_bench.qrs";
  const std::string index_path = dir + "/store_bench_rdata.idx";
  std::vector<Rec> recs = generate(count);
  printf("records                      %10zu\n", recs.size());

  auto t = Clock::now();
  std::string error;
  auto w = StoreWriter::create(store_path, uint64_t{8} << 30, &error);
  if (!w) return fprintf(stderr, "%s\n", error.c_str()), 1;
  for (const Rec& r : recs) {
    if (!w->add({r.name, r.type, r.raw, r.tf, r.tl, r.count, {}}, &error)) {
      return fprintf(stderr, "%s\n", error.c_str()), 1;
    }
  }
  if (!w->finish(&error)) return fprintf(stderr, "%s\n", error.c_str()), 1;
  printf("store write                  %10.2f s %12ld bytes (%.1f bytes/record, %llu values)\n",
         seconds_since(t), file_size(store_path),
         static_cast<double>(file_size(store_path)) / static_cast<double>(recs.size()),
         static_cast<unsigned long long>(w->value_count()));
  w.reset();
  auto store = RecordStore::open(store_path, &error);
  if (!store) return fprintf(stderr, "%s\n", error.c_str()), 1;

  t = Clock::now();
  if (!write_rdata_index(*store, index_path)) return 1;
  printf("rdata index write            %10.2f s %12ld bytes\n", seconds_since(t),
         file_size(index_path));

  // Exact names: every record of 20,000 random names, one lookup each.
  std::vector<std::string> names;
  names.reserve(recs.size());
  for (const Rec& r : recs) names.push_back(r.name);
  report_exact(*store, names);

  LookupQuery sub;
  std::string e;
  parse_name_query("*.bigzone.com", false, &sub, &e);
  report_rate("subtree *.bigzone.com x20", *store, std::vector<LookupQuery>(20, sub));
  std::vector<LookupQuery> nets;
  for (int c = 0; c < 256; ++c) {
    LookupQuery q;
    parse_value_query("185.220." + std::to_string(c) + ".0/24", 0, &q, &e);
    nets.push_back(q);
  }
  report_rate("every /24 of 185.220.0.0/16", *store, nets);
  LookupQuery ns;
  parse_value_query("ns1.hoster.net.", 2, &ns, &e);
  report_rate("value ns1.hoster.net. x5", *store, std::vector<LookupQuery>(5, ns));
  unlink(store_path.c_str());
  unlink(index_path.c_str());
  return 0;
}
