// Writes an index of 1,000,000 owner names and loads it, printing both times.
//
//   build/bin/index_bench [count] [directory]
//
// Names look like passive-DNS owner names (hosts under generated second-level domains of
// common top-level domains) and are sorted in index order before the clock starts. The
// load is timed as a search start-up sees it: map, check, and then a walk over every
// line through line_lookup to page the string table in.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "index/index_writer.h"
#include "index/line_lookup.h"
#include "index/name_order.h"
#include "index/tgdb.h"

namespace {

std::vector<std::string> make_names(size_t count) {
  std::mt19937_64 rng(1);
  static const char* const kSyl[] = {"al", "an", "ar", "be", "bo", "ca", "co", "da", "de", "el",
                                     "en", "fa", "fi", "ga", "go", "in", "ka", "ko", "la", "li",
                                     "ma", "mi", "mo", "na", "no", "pa", "ra", "re", "sa", "se",
                                     "ta", "te", "to", "va", "vi", "xa", "yo", "za", "zu", "qu"};
  static const char* const kTld[] = {"com", "com", "com", "net", "org", "de", "io", "co.uk", "nl", "fr", "jp", "ru"};
  static const char* const kHost[] = {"www", "mail", "api", "cdn", "ns1", "ns2", "m", "vpn", "dev", "app",
                                      "static", "img", "mx", "smtp", "shop", "blog"};
  std::vector<std::string> names;
  // Some generated names repeat; make a few more than asked and cut after removing them.
  const size_t target = count + count / 5;
  names.reserve(target);
  std::string domain;
  while (names.size() < target) {
    domain.clear();
    const int syl = 2 + static_cast<int>(rng() % 4);
    for (int i = 0; i < syl; ++i) domain += kSyl[rng() % 40];
    if (rng() % 8 == 0) domain += std::to_string(rng() % 1000);
    domain += ".";
    domain += kTld[rng() % 12];
    names.push_back(domain);
    const int hosts = static_cast<int>(rng() % 5);
    for (int h = 0; h < hosts; ++h) {
      std::string host = kHost[rng() % 16];
      if (rng() % 4 == 0) host += std::to_string(rng() % 100) + ".node";
      names.push_back(host + "." + domain);
    }
  }
  std::sort(names.begin(), names.end(), quarn::NameOrderLess());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  if (names.size() > count) {
    // Drop every k-th name rather than a tail, so that all top-level domains stay in.
    std::vector<std::string> kept;
    kept.reserve(count);
    const double step = static_cast<double>(names.size()) / static_cast<double>(count);
    for (size_t i = 0; i < count; ++i) kept.push_back(std::move(names[static_cast<size_t>(i * step)]));
    names.swap(kept);
  }
  return names;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string path = dir + "/index_bench." + std::to_string(getpid()) + ".idx";

  const std::vector<std::string> names = make_names(count);
  const std::string annotation = "\t4:5f5e1000,93a80:3 n:5f5e1000:1";

  auto t0 = std::chrono::steady_clock::now();
  std::string error;
  auto writer = quarn::IndexWriter::create(path, {}, &error);
  if (!writer) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::string line;
  for (const std::string& n : names) {
    line.assign(n).append(annotation);
    if (!writer->add_line(line, &error)) {
      fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  if (!writer->finish(&error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const double write_s = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  quarn::TgdbRef t = quarn::tgdb_load(path);
  if (!t) return 1;
  const double load_s = seconds_since(t0);

  t0 = std::chrono::steady_clock::now();
  size_t found = 0;
  for (uint64_t i = 0; i < names.size(); ++i) found += quarn::line_lookup(*t, i) != nullptr;
  const double scan_s = seconds_since(t0);

  printf("names: %zu, file: %.1f MB (string table %.1f MB, references %.1f MB)\n", names.size(),
         t->file_size() / 1e6, t->string_table_size() / 1e6, t->header().tgdb_size / 1e6);
  printf("write: %.3f s (%.0f lines/s)\n", write_s, names.size() / write_s);
  printf("load:  %.6f s (map and check)\n", load_s);
  printf("line lookup of every line: %.3f s (%zu found)\n", scan_s, found);
  t.reset();
  unlink(path.c_str());
  return found == names.size() ? 0 : 1;
}
