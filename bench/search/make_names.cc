// Generates a deterministic set of realistic owner names and builds an owner-name index
// of them with the project's writer, for the search benchmark.
//
//   bench_make_names COUNT OUT_DIR
//
// Writes OUT_DIR/names.idx (the index of at least COUNT distinct names) and
// OUT_DIR/names.txt (the same names, one per line, in index order: the input of the grep
// comparison). The same COUNT always gives the same names.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "index/index_writer.h"
#include "index/name_order.h"

namespace {

using quarn::IndexWriter;
using quarn::IndexWriterOptions;

constexpr const char* kWords[] = {
    "mail", "shop", "store", "cloud", "data", "net", "web", "secure", "login", "account",
    "bank", "pay", "wallet", "update", "verify", "support", "service", "online", "portal",
    "global", "media", "news", "travel", "home", "auto", "health", "care", "tech", "soft",
    "micro", "green", "blue", "red", "star", "sun", "moon", "river", "lake", "hill", "city",
    "metro", "north", "south", "east", "west", "alpha", "beta", "delta", "omega", "prime",
    "smart", "fast", "easy", "best", "top", "first", "one", "my", "your", "our", "the",
    "game", "play", "music", "video", "photo", "art", "design", "studio", "lab", "works",
    "group", "corp", "inc", "solutions", "systems", "networks", "hosting", "server", "app",
    "mobile", "link", "click", "track", "ads", "promo", "deal", "sale", "gift", "card",
    "crypto", "coin", "trade", "market", "finance", "invest", "capital", "insure", "legal"};
constexpr const char* kSyllables[] = {"ka", "lo", "mi", "tre", "son", "ra", "ven", "ti", "po",
                                      "lan", "de", "ri", "mo", "sa", "ber", "qu", "zen", "xo",
                                      "fa", "nu", "gor", "li", "ta", "vi", "pre", "ston"};
constexpr const char* kTlds[] = {"com", "com", "com", "com", "net", "net", "org", "de", "uk",
                                 "co.uk", "ru", "cn", "info", "io", "biz", "xyz", "top",
                                 "online", "fr", "nl", "br", "com.br", "jp", "co.jp", "pl", "in"};
constexpr const char* kSubs[] = {"www", "mail", "smtp", "mx", "mx1", "mx2", "ns1", "ns2", "api",
                                 "cdn", "static", "img", "m", "dev", "test", "staging", "vpn",
                                 "webmail", "autodiscover", "remote", "portal", "shop", "blog",
                                 "ftp", "admin", "login", "secure", "app", "beta", "docs"};

class NameGen {
 public:
  explicit NameGen(uint64_t seed) : rng_(seed) {}

  std::string next() {
    const int shape = pick(100);
    std::string n;
    if (shape < 40) {
      for (int i = pick(3); i > 0; --i) n += std::string(kSubs[pick(std::size(kSubs))]) + ".";
      n += domain();
    } else if (shape < 55) {
      // Addresses written into host names, as access and cloud networks do.
      n = (pick(2) ? "ip-" : "host-") + num(255) + "-" + num(255) + "-" + num(255) + "-" + num(255) +
          "." + (pick(2) ? "dyn." : "static.") + word() + "-isp." + tld();
    } else if (shape < 65) {
      n = random_letters(8 + pick(13)) + "." + tld();  // generated-looking names
    } else if (shape < 75) {
      n = word() + "-" + word() + (pick(3) == 0 ? "-" + word() : "") + "." + tld();
    } else if (shape < 85) {
      static const char* svc[] = {"_sip._tcp", "_sip._udp", "_dmarc", "_domainkey", "_xmpp._tcp",
                                  "_acme-challenge", "_ldap._tcp"};
      n = std::string(svc[pick(std::size(svc))]) + "." + domain();
    } else if (shape < 95) {
      n = hex(10 + pick(20)) + "." + (pick(2) ? "cdn." : "edge.") + word() + "cdn.net";
    } else {
      n = "xn--" + random_letters(4 + pick(8)) + "-" + random_letters(3) + "." + tld();
    }
    return n;
  }

 private:
  size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  std::string num(int max) { return std::to_string(pick(static_cast<size_t>(max) + 1)); }
  std::string tld() { return kTlds[pick(std::size(kTlds))]; }
  std::string word() {
    if (pick(3) != 0) return kWords[pick(std::size(kWords))];
    std::string w;
    for (int i = 2 + static_cast<int>(pick(3)); i > 0; --i) w += kSyllables[pick(std::size(kSyllables))];
    return w;
  }
  std::string domain() {
    std::string d = word();
    if (pick(3) == 0) d += (pick(2) ? "-" : "") + word();
    if (pick(4) == 0) d += num(999);
    return d + "." + tld();
  }
  std::string random_letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + pick(26));
    return s;
  }
  std::string hex(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "0123456789abcdef"[pick(16)];
    return s;
  }

  std::mt19937_64 rng_;
};

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s COUNT OUT_DIR\n", argv[0]);
    return 2;
  }
  const size_t count = std::strtoull(argv[1], nullptr, 10);
  const std::string dir = argv[2];
  const auto t0 = std::chrono::steady_clock::now();

  // All names in one buffer with offsets: about 30 bytes per name instead of a string each.
  // Names repeat now and then, so batches are generated until COUNT distinct names exist
  // (the index then holds at least COUNT names).
  std::string text;
  std::vector<uint64_t> offsets;
  NameGen gen(count);
  auto view = [&](uint32_t i) { return std::string_view(text).substr(offsets[i], offsets[i + 1] - offsets[i]); };
  auto less = [&](uint32_t a, uint32_t b) { return quarn::name_order(view(a), view(b)) < 0; };
  auto same = [&](uint32_t a, uint32_t b) { return quarn::name_order(view(a), view(b)) == 0; };
  std::vector<uint32_t> order;  // distinct names, sorted
  offsets.push_back(0);
  while (order.size() < count) {
    const size_t batch = order.empty() ? count : (count - order.size()) * 13 / 10 + 1000;
    std::vector<uint32_t> fresh;
    for (size_t i = 0; i < batch; ++i) {
      text += gen.next();
      fresh.push_back(static_cast<uint32_t>(offsets.size() - 1));
      offsets.push_back(text.size());
    }
    std::sort(fresh.begin(), fresh.end(), less);
    std::vector<uint32_t> merged;
    merged.reserve(order.size() + fresh.size());
    std::merge(order.begin(), order.end(), fresh.begin(), fresh.end(), std::back_inserter(merged), less);
    merged.erase(std::unique(merged.begin(), merged.end(), same), merged.end());
    order.swap(merged);
  }
  std::fprintf(stderr, "generated and sorted %zu distinct names in %.1f s\n", order.size(), seconds_since(t0));

  IndexWriterOptions opt;
  opt.timefence = true;
  opt.earliest_seen = 1500000000;
  opt.latest_seen = 1700000000;
  std::string error;
  auto writer = IndexWriter::create(dir + "/names.idx", opt, &error);
  if (!writer) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  FILE* names = std::fopen((dir + "/names.txt").c_str(), "w");
  if (names == nullptr) {
    std::perror("names.txt");
    return 1;
  }
  std::mt19937_64 rng(7);
  std::string line;
  size_t written = 0;
  char annotation[64];
  for (uint32_t i : order) {
    const std::string_view name = view(i);
    const uint64_t first = 1500000000 + rng() % 150000000;
    std::snprintf(annotation, sizeof annotation, "\t4:%llx,%llx:%llx", static_cast<unsigned long long>(first),
                  static_cast<unsigned long long>(rng() % 50000000), static_cast<unsigned long long>(1 + rng() % 999));
    line.assign(name);
    line += annotation;
    if (!writer->add_line(line, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::fwrite(name.data(), 1, name.size(), names);
    std::fputc('\n', names);
    ++written;
  }
  std::fclose(names);
  if (!writer->finish(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  std::fprintf(stderr, "wrote %zu distinct names in %.1f s total, peak memory %.0f MB\n", written,
               seconds_since(t0), ru.ru_maxrss / 1024.0);
  return 0;
}
