// Eight clients search through a set file while gramforge compacts the daily files it
// lists into one and the service re-reads the set file at every step of the
// compaction: every answer is the one from before, never a failed, partial or doubled
// one. Labelled "concurrent" so that the ThreadSanitizer stage runs it.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "forge/build.h"
#include "service/service_fixture.h"

namespace quarn::test {
namespace {

std::string day_observations(int day) {
  std::string s;
  for (int i = 0; i < 600; ++i) {
    const long t = kT0 + day * 86400L + i * 11L;
    s += "{\"rrname\":\"h" + std::to_string(i % 150) + ".z" + std::to_string(i % 7) +
         ".example.com\",\"rrtype\":\"A\",\"rdata\":\"192.0.2." + std::to_string(i % 50) +
         "\",\"time_first\":" + std::to_string(t) + ",\"time_last\":" + std::to_string(t + 90) +
         ",\"count\":2}\n";
  }
  return s;
}

BuildOptions forge_options(std::vector<std::string> inputs, const std::string& out,
                           const std::string& tmp) {
  BuildOptions o;
  o.inputs = std::move(inputs);
  o.rrname_out = out;
  o.tmpdir = tmp;
  o.progress = false;
  o.memory_budget = size_t{16} << 20;
  return o;
}

TEST(CompactionLoad, EightClientsSeeTheSameAnswersThroughout) {
  TempDir dir;
  std::vector<std::string> days;
  std::string list;
  for (int d = 0; d < 3; ++d) {
    const std::string json = dir.file("day" + std::to_string(d) + ".json");
    std::ofstream(json) << day_observations(d);
    days.push_back(dir.file("day" + std::to_string(d) + ".idx"));
    BuildStats stats;
    std::string error;
    ASSERT_TRUE(run_build(forge_options({json}, days.back(), dir.path()), &stats, &error)) << error;
    list += "day" + std::to_string(d) + ".idx\n";
  }
  const std::string set = dir.file("names.set");
  write_file(set, list);
  ServiceOptions o;
  o.workers = 4;
  RunningService svc(o, set);
  const std::string url = search_url("z[13]\\.ex");
  const Answer before = split_answer(svc.client()->Get(url));
  ASSERT_EQ(before.fin, fin_line(200, "OK"));
  ASSERT_GT(before.lines.size(), 50u);

  std::atomic<bool> stop{false};
  std::atomic<int> answers{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&] {
      auto c = svc.client();
      while (!stop.load()) {
        const Answer a = split_answer(c->Get(url));
        if (a.fin != before.fin || a.lines != before.lines) ++wrong;
        ++answers;
      }
    });
  }
  BuildOptions compact = forge_options(days, dir.file("month.idx"), dir.path());
  compact.set_file = set;
  compact.replace = true;
  compact.step_hook = [&](const char*) { svc.service().reload(); };
  BuildStats stats;
  std::string error;
  const bool built = run_build(compact, &stats, &error);
  svc.service().reload();
  // Let the clients search the compacted file too before stopping them.
  const int seen = answers.load();
  while (answers.load() < seen + 16) std::this_thread::yield();
  stop = true;
  for (auto& c : clients) c.join();
  ASSERT_TRUE(built) << error;
  EXPECT_EQ(read_file(set), "month.idx\n");
  EXPECT_EQ(wrong.load(), 0) << "of " << answers.load();
}

}  // namespace
}  // namespace quarn::test
