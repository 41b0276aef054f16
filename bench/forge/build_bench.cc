// Times gramforge on N generated observations: build time, peak resident memory,
// index sizes and input size, one table row per run.
//
//   bench_build <observations> [memory budget MiB] [work directory]
//
// The observations are generated deterministically (same N, same file) as JSON lines:
// owner names under a few hundred thousand zones with skewed popularity, so that most
// names recur and merge; record types mixed as in real traffic (mostly A, then AAAA,
// CNAME, NS, MX, TXT, SOA); times spread over two years. gramforge is taken from the
// directory of this program and run as a child, whose peak RSS comes from wait4.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// splitmix64: a fixed, portable sequence, so every run sees the same input.
struct Rng {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }
};

uint64_t mix(uint64_t x) {
  Rng r{x};
  return r.next();
}

// A pronounceable label derived from a number.
std::string word(uint64_t h, int min_len) {
  static const char* kSyll[] = {"ka", "lo", "mi", "ne", "ra", "to", "su", "vi", "de", "po",
                                "an", "el", "or", "us", "ba", "ci", "fu", "go", "he", "ju",
                                "web", "net", "mail", "shop", "cloud", "data", "app", "cdn"};
  std::string w;
  const int n = min_len + static_cast<int>(h % 3);
  for (int i = 0; i < n; ++i) {
    w += kSyll[h % 28];
    h = mix(h);
  }
  if (h % 4 == 0) w += std::to_string(h % 100);
  return w;
}

const char* kTlds[] = {"com", "net", "org", "de", "uk", "io", "ru", "fr", "nl", "info"};
const char* kHosts[] = {"www", "mail", "ns1", "ns2", "api", "cdn", "m", "smtp", "vpn", "dev"};

std::string zone_name(uint64_t z) {
  return word(mix(z * 7 + 1), 2) + "." + kTlds[mix(z) % 10];
}

std::string host_name(uint64_t z, uint64_t h) {
  const uint64_t k = mix(z * 1000003 + h);
  if (h == 0) return zone_name(z);
  if (k % 3 == 0) return std::string(kHosts[k % 10]) + "." + zone_name(z);
  return word(k, 1) + (k % 5 == 0 ? "." + word(k >> 7, 1) : "") + "." + zone_name(z);
}

void generate(const std::string& path, uint64_t n) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) {
    perror(path.c_str());
    exit(1);
  }
  Rng rng{42};
  const uint64_t zones = std::max<uint64_t>(1000, n / 40);
  const uint32_t t0 = 1640995200;  // 2022-01-01
  for (uint64_t i = 0; i < n; ++i) {
    // Skewed popularity: squaring a uniform value favours low zone numbers.
    const uint64_t u = rng.below(1ull << 20);
    const uint64_t z = (u * u >> 20) * zones >> 20;
    const uint64_t h = rng.below(8);
    const std::string name = host_name(z, h);
    const uint64_t kind = rng.below(100);
    const uint64_t v = rng.below(4);  // a few values per name
    const uint64_t key = mix(z * 31 + h * 7 + v);
    char rdata[256];
    const char* type;
    if (kind < 55) {
      type = "A";
      snprintf(rdata, sizeof rdata, "\"%u.%u.%u.%u\"", static_cast<unsigned>(key >> 8 & 223),
               static_cast<unsigned>(key >> 16 & 255), static_cast<unsigned>(key >> 24 & 255),
               static_cast<unsigned>(key >> 32 & 255));
    } else if (kind < 67) {
      type = "AAAA";
      snprintf(rdata, sizeof rdata, "\"2001:db8:%x:%x::%x\"", static_cast<unsigned>(key & 0xffff),
               static_cast<unsigned>(key >> 16 & 0xffff), static_cast<unsigned>(key >> 32 & 0xfff));
    } else if (kind < 75) {
      type = "CNAME";
      snprintf(rdata, sizeof rdata, "\"%s.\"", host_name(mix(key) % zones, 1 + key % 7).c_str());
    } else if (kind < 83) {
      type = "NS";
      snprintf(rdata, sizeof rdata, "\"ns%u.%s.\"", static_cast<unsigned>(v % 2 + 1),
               zone_name(z % 5000).c_str());
    } else if (kind < 90) {
      type = "MX";
      snprintf(rdata, sizeof rdata, "\"%u mail.%s.\"", static_cast<unsigned>(v * 10),
               zone_name(z).c_str());
    } else if (kind < 97) {
      type = "TXT";
      snprintf(rdata, sizeof rdata, "\"\\\"v=spf1 include:_spf.%s ~all\\\"\"",
               zone_name(key % 3000).c_str());
    } else {
      type = "SOA";
      snprintf(rdata, sizeof rdata, "\"ns1.%s. hostmaster.%s. %u 7200 3600 1209600 300\"",
               zone_name(z).c_str(), zone_name(z).c_str(), static_cast<unsigned>(key % 100000));
    }
    const uint32_t first = t0 + static_cast<uint32_t>(rng.below(2 * 365 * 86400u));
    const uint32_t last = first + static_cast<uint32_t>(rng.below(30 * 86400u));
    fprintf(f,
            "{\"rrname\":\"%s.\",\"rrtype\":\"%s\",\"rdata\":%s,\"time_first\":%u,"
            "\"time_last\":%u,\"count\":%u,\"bailiwick\":\"%s.\"}\n",
            name.c_str(), type, rdata, first, last, 1 + static_cast<unsigned>(rng.below(50)),
            zone_name(z).c_str());
  }
  if (fclose(f) != 0) {
    perror(path.c_str());
    exit(1);
  }
}

uint64_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "Usage: %s <observations> [memory budget MiB] [work directory]\n", argv[0]);
    return 1;
  }
  const uint64_t n = strtoull(argv[1], nullptr, 10);
  const std::string budget = argc > 2 ? argv[2] : "256";
  std::string dir = argc > 3 ? argv[3] : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
  std::string self = argv[0];
  const std::string bindir = self.find('/') == std::string::npos ? "." : self.substr(0, self.rfind('/'));
  const std::string input = dir + "/gfbench-" + std::to_string(n) + ".json";
  if (size_of(input) == 0) generate(input, n);
  const std::string rr = dir + "/gfbench-names.idx", rd = dir + "/gfbench-rdata.idx";
  const std::string gf = bindir + "/gramforge";

  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = fork();
  if (pid == 0) {
    execl(gf.c_str(), gf.c_str(), "--force", "-m", budget.c_str(), "-o", rr.c_str(), "-d", rd.c_str(),
          input.c_str(), static_cast<char*>(nullptr));
    perror(gf.c_str());
    _exit(127);
  }
  int status = 0;
  struct rusage ru;
  wait4(pid, &status, 0, &ru);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "gramforge failed\n");
    return 1;
  }
  const double secs = static_cast<double>(t1.tv_sec - t0.tv_sec) +
                      static_cast<double>(t1.tv_nsec - t0.tv_nsec) / 1e9;
  printf("| observations | input MB | budget MiB | build s | obs/s | peak RSS MiB | rrname MB | rdata MB |\n");
  printf("|---|---|---|---|---|---|---|---|\n");
  printf("| %llu | %.1f | %s | %.1f | %.0f | %.0f | %.1f | %.1f |\n",
         static_cast<unsigned long long>(n), static_cast<double>(size_of(input)) / 1e6,
         budget.c_str(), secs, static_cast<double>(n) / secs,
         static_cast<double>(ru.ru_maxrss) / 1024.0, static_cast<double>(size_of(rr)) / 1e6,
         static_cast<double>(size_of(rd)) / 1e6);
  unlink(rr.c_str());
  unlink(rd.c_str());
  return 0;
}
