// Generates the passive-DNS corpus of the side-by-side comparison: COUNT distinct owner
// names, each observed under one to four record types, as JSON observation lines that
// gramforge reads, plus the same distinct names as plain text for the peers.
//
//   bench_compare_corpus COUNT OUT_DIR [SEED]
//
// Writes OUT_DIR/corpus.json (observations; owner names keep their case and a trailing
// dot as feeds write them) and OUT_DIR/names.txt (each distinct name once, lower case,
// without the trailing dot: exactly the strings the owner-name index holds, so every
// tool searches the same text). The same COUNT and SEED always give the same files.
//
// The name mix follows what a passive-DNS feed sees: registered domains under a skewed
// mix of top-level domains including multi-label public suffixes, service host labels,
// hex-hash machine labels under content networks, cloud host names that embed an IPv4
// address, algorithmically generated random labels, mail-policy labels (_dmarc,
// selector._domainkey), service-location labels, wildcard owners, punycode labels, and
// some upper case. Distinctness is judged on the lower-cased name by a 64-bit hash: a
// collision (about one in 10^6 at ten million names) only drops a candidate name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <unordered_set>

namespace {

// splitmix64: portable and fixed, so a seed means the same corpus everywhere.
struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  size_t pick(size_t n) { return static_cast<size_t>(next() % n); }
  // Skewed towards small values: the square of a uniform fraction.
  size_t skewed(size_t n) {
    const uint64_t u = next() >> 44;  // 20 bits
    return static_cast<size_t>((u * u >> 20) * n >> 20);
  }
};

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
    "crypto", "coin", "trade", "market", "finance", "invest", "capital", "insure", "legal",
    "paypal", "office", "cloudflare", "google", "apple", "amazon", "micros0ft"};
constexpr const char* kSyllables[] = {"ka", "lo", "mi", "tre", "son", "ra", "ven", "ti", "po",
                                      "lan", "de", "ri", "mo", "sa", "ber", "qu", "zen", "xo",
                                      "fa", "nu", "gor", "li", "ta", "vi", "pre", "ston"};
// Popular first: picked with a skew, so .com dominates and the tail is long.
constexpr const char* kTlds[] = {
    "com", "net", "org", "de", "co.uk", "ru", "cn", "info", "io", "com.br", "nl", "fr", "jp",
    "co.jp", "pl", "in", "com.au", "xyz", "top", "online", "biz", "it", "es", "ca", "org.uk",
    "com.cn", "net.au", "co.za", "ch", "se", "us", "eu", "me", "tv", "cc", "ac.uk", "gov.uk",
    "com.mx", "co.in", "or.jp", "ne.jp", "com.tr", "kr", "co.kr", "tk", "ml", "ga", "site",
    "club", "shop", "app", "dev", "cloud", "store", "tech", "k12.ca.us", "pvt.k12.ma.us"};
constexpr const char* kHosts[] = {"www", "mail", "smtp", "mx", "mx1", "mx2", "ns1", "ns2",
                                  "api", "cdn", "static", "img", "m", "dev", "test", "staging",
                                  "vpn", "webmail", "autodiscover", "remote", "portal", "shop",
                                  "blog", "ftp", "admin", "login", "secure", "app", "beta",
                                  "docs", "imap", "pop", "owa", "sso", "git", "ci", "grafana"};
constexpr const char* kServices[] = {"_sip._tcp", "_sip._udp", "_xmpp-client._tcp",
                                     "_ldap._tcp", "_kerberos._udp", "_acme-challenge",
                                     "_autodiscover._tcp", "_caldav._tcp"};
constexpr const char* kSelectors[] = {"google", "selector1", "selector2", "default", "k1",
                                      "s1", "s2", "mail", "dkim", "mandrill", "smtpapi"};
constexpr const char* kRegions[] = {"us-east-1", "us-west-2", "eu-west-1", "eu-central-1",
                                    "ap-southeast-1", "ap-northeast-1", "sa-east-1"};

template <size_t N>
const char* any(Rng& r, const char* const (&list)[N]) {
  return list[r.pick(N)];
}

class NameGen {
 public:
  explicit NameGen(uint64_t seed) : r_{seed} {}

  std::string next() {
    const size_t shape = r_.pick(1000);
    std::string n;
    if (shape < 300) {  // hosts under a registered domain
      for (size_t i = r_.pick(3); i > 0; --i) (n += any(r_, kHosts)) += '.';
      n += domain();
    } else if (shape < 420) {  // registered domains themselves
      n = domain();
    } else if (shape < 520) {  // cloud and access hosts that embed an address
      const std::string a = num(255), b = num(255), c = num(255), d = num(255);
      switch (r_.pick(4)) {
        case 0: n = "ec2-" + a + "-" + b + "-" + c + "-" + d + "." + any(r_, kRegions) + ".compute.cloudhost.com"; break;
        case 1: n = "ip-" + a + "-" + b + "-" + c + "-" + d + "." + any(r_, kRegions) + ".compute.internal"; break;
        case 2: n = d + "." + c + "." + b + "." + a + ".in-addr.arpa"; break;
        default: n = "host-" + a + "-" + b + "-" + c + "-" + d + (r_.pick(2) ? ".dyn." : ".static.") + word() + "-isp." + tld(); break;
      }
    } else if (shape < 620) {  // generated-looking registrations
      n = letters(8 + r_.pick(17)) + "." + tld();
    } else if (shape < 700) {  // hex-hash machine labels under content networks
      n = hex(8 + r_.pick(33)) + (r_.pick(2) ? ".cdn." : ".edge.") + word() + "cdn.net";
    } else if (shape < 760) {  // mail policy
      n = r_.pick(2) ? "_dmarc." + domain()
                     : std::string(any(r_, kSelectors)) + "._domainkey." + domain();
    } else if (shape < 800) {  // service location
      n = std::string(any(r_, kServices)) + "." + domain();
    } else if (shape < 830) {  // wildcard owners
      n = "*." + (r_.pick(2) ? std::string(any(r_, kHosts)) + "." : std::string()) + domain();
    } else if (shape < 850) {  // punycode
      n = "xn--" + letters(4 + r_.pick(8)) + "-" + letters(3) + "." + tld();
    } else if (shape < 930) {  // hyphenated brand-like names, phishing-style
      n = word() + "-" + word() + (r_.pick(3) == 0 ? "-" + word() : "") + "." + tld();
      if (r_.pick(3) == 0) n = std::string(any(r_, kHosts)) + "." + n;
    } else {  // deep machine names
      n = letters(2) + num(99) + "-" + hex(6) + "." + any(r_, kRegions) + ".k8s." + domain();
    }
    return n;
  }

 private:
  std::string num(size_t max) { return std::to_string(r_.pick(max + 1)); }
  std::string tld() { return kTlds[r_.skewed(std::size(kTlds))]; }
  std::string word() {
    if (r_.pick(3) != 0) return kWords[r_.skewed(std::size(kWords))];
    std::string w;
    for (size_t i = 2 + r_.pick(3); i > 0; --i) w += any(r_, kSyllables);
    return w;
  }
  std::string domain() {
    std::string d = word();
    if (r_.pick(3) == 0) d += (r_.pick(2) ? "-" : "") + word();
    if (r_.pick(4) == 0) d += num(999);
    return d + "." + tld();
  }
  std::string letters(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('a' + r_.pick(26));
    return s;
  }
  std::string hex(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "0123456789abcdef"[r_.pick(16)];
    return s;
  }

  Rng r_;
};

uint64_t fnv1a(const std::string& s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

void lower(std::string* s) {
  for (char& c : *s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// Feeds write some names in upper or mixed case.
std::string recase(Rng& r, std::string s) {
  const size_t k = r.pick(100);
  if (k < 3) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  } else if (k < 6) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z' && r.pick(2) == 0) c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// One observation line; rdata strings are JSON-escaped by construction (no quotes or
// backslashes except the escaped TXT quotes written here).
void observe(FILE* out, Rng& r, const std::string& owner, const char* type, const std::string& rdata_json) {
  const uint32_t t0 = 1514764800;  // 2018-01-01
  const uint32_t first = t0 + static_cast<uint32_t>(r.pick(6u * 365 * 86400));
  const uint32_t span = static_cast<uint32_t>(r.pick(4) == 0 ? 0 : r.skewed(700u * 86400));
  const unsigned count = 1 + static_cast<unsigned>(r.pick(8) == 0 ? r.pick(100000) : r.pick(20));
  std::fprintf(out,
               "{\"rrname\":\"%s.\",\"rrtype\":\"%s\",\"rdata\":[%s],\"time_first\":%u,"
               "\"time_last\":%u,\"count\":%u}\n",
               owner.c_str(), type, rdata_json.c_str(), first, first + span, count);
}

std::string ipv4(Rng& r) {
  return std::to_string(1 + r.pick(222)) + "." + std::to_string(r.pick(256)) + "." +
         std::to_string(r.pick(256)) + "." + std::to_string(1 + r.pick(254));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s COUNT OUT_DIR [SEED]\n", argv[0]);
    return 2;
  }
  const size_t count = std::strtoull(argv[1], nullptr, 10);
  const std::string dir = argv[2];
  const uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20240601;
  FILE* json = std::fopen((dir + "/corpus.json").c_str(), "w");
  FILE* text = std::fopen((dir + "/names.txt").c_str(), "w");
  if (json == nullptr || text == nullptr) {
    std::perror(dir.c_str());
    return 1;
  }
  NameGen gen(seed);
  Rng r{seed ^ 0x5bd1e995ull};
  NameGen targets(seed + 1);  // CNAME, NS and MX targets: other names of the same kind
  std::unordered_set<uint64_t> seen;
  seen.reserve(count * 2);
  size_t written = 0, observations = 0;
  while (written < count) {
    std::string name = gen.next();
    std::string key = name;
    lower(&key);
    if (!seen.insert(fnv1a(key)).second) continue;
    ++written;
    std::fwrite(key.data(), 1, key.size(), text);
    std::fputc('\n', text);
    const std::string owner = recase(r, name);
    // One to four record types per name, A most common.
    const size_t types = 1 + (r.pick(3) == 0 ? r.pick(4) : 0);
    for (size_t t = 0; t < types; ++t) {
      const size_t k = r.pick(100);
      ++observations;
      if (k < 50) {
        std::string v = "\"" + ipv4(r) + "\"";
        if (r.pick(4) == 0) v += ",\"" + ipv4(r) + "\"";
        observe(json, r, owner, "A", v);
      } else if (k < 62) {
        char v[64];
        std::snprintf(v, sizeof v, "\"2001:db8:%x:%x::%x\"", static_cast<unsigned>(r.pick(65536)),
                      static_cast<unsigned>(r.pick(65536)), static_cast<unsigned>(r.pick(4096)));
        observe(json, r, owner, "AAAA", v);
      } else if (k < 74) {
        observe(json, r, owner, "CNAME", "\"" + targets.next() + ".\"");
      } else if (k < 82) {
        const std::string zone = targets.next();
        observe(json, r, owner, "NS", "\"ns1." + zone + ".\",\"ns2." + zone + ".\"");
      } else if (k < 90) {
        observe(json, r, owner, "MX", "\"" + std::to_string(10 * r.pick(5)) + " mail." + targets.next() + ".\"");
      } else {
        const size_t v = r.pick(3);
        std::string txt = v == 0   ? "v=spf1 include:_spf." + targets.next() + " ~all"
                          : v == 1 ? "v=DMARC1; p=" + std::string(r.pick(2) ? "reject" : "none") + "; rua=mailto:dmarc@" + targets.next()
                                   : "google-site-verification=" + std::to_string(r.next());
        observe(json, r, owner, "TXT", "\"\\\"" + txt + "\\\"\"");
      }
    }
  }
  if (std::fclose(json) != 0 || std::fclose(text) != 0) {
    std::perror(dir.c_str());
    return 1;
  }
  std::fprintf(stderr, "wrote %zu distinct names in %zu observations\n", written, observations);
  return 0;
}
