// The search gate's kinds: heavy searches keep one worker free for light ones, and a
// light search takes a freed worker before a waiting heavy one; and how a prepared
// query is weighed. (Queue length, refusals and the drain are covered end to end in
// service_load_test.)
#include "service/search_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "index/crafted_index.h"
#include "planner/tgr_result.h"
#include "service/search_weight.h"

namespace quarn {
namespace {

using Kind = SearchGate::Kind;
using Refusal = SearchGate::Refusal;
constexpr std::chrono::milliseconds kShort{30};
constexpr std::chrono::milliseconds kLong{10000};

// Polls until cond holds (a few seconds at most); the gate has no event to wait on.
template <typename Cond>
bool eventually(Cond cond) {
  for (int i = 0; i < 2000 && !cond(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return cond();
}

TEST(SearchGateKinds, HeavySearchesLeaveAWorkerToLightOnes) {
  Refusal why;
  SearchGate gate(2, 4);
  EXPECT_EQ(gate.heavy_limit(), 1u);
  SearchGate::Ticket heavy = gate.enter(Kind::kHeavy, kShort, nullptr, &why);
  ASSERT_TRUE(heavy);
  EXPECT_FALSE(gate.enter(Kind::kHeavy, kShort, nullptr, &why));  // a worker is free, but
  EXPECT_EQ(why, Refusal::kWaitedTooLong);                         // not for a heavy one
  SearchGate::Ticket light = gate.enter(Kind::kLight, kShort, nullptr, &why);
  ASSERT_TRUE(light);
  EXPECT_EQ(gate.running(), 2u);
  EXPECT_EQ(gate.running_heavy(), 1u);
  heavy.release();
  EXPECT_EQ(gate.running_heavy(), 0u);
  EXPECT_TRUE(gate.enter(Kind::kHeavy, kShort, nullptr, &why));

  SearchGate single(1, 4);  // with one worker a heavy search may still have it
  EXPECT_TRUE(single.enter(Kind::kHeavy, kShort, nullptr, &why));
}

TEST(SearchGateKinds, FreedWorkerGoesToAWaitingLightSearchFirst) {
  SearchGate gate(3, 8);
  Refusal why;
  SearchGate::Ticket h1 = gate.enter(Kind::kHeavy, kShort, nullptr, &why);
  SearchGate::Ticket l1 = gate.enter(Kind::kLight, kShort, nullptr, &why);
  SearchGate::Ticket l2 = gate.enter(Kind::kLight, kShort, nullptr, &why);
  ASSERT_TRUE(h1 && l1 && l2);
  std::atomic<bool> heavy_in{false}, light_in{false};
  SearchGate::Ticket h2, l3;
  std::thread heavy([&] {
    Refusal w;
    h2 = gate.enter(Kind::kHeavy, kLong, nullptr, &w);
    heavy_in = static_cast<bool>(h2);
  });
  ASSERT_TRUE(eventually([&] { return gate.queued() == 1; }));
  std::thread light([&] {
    Refusal w;
    l3 = gate.enter(Kind::kLight, kLong, nullptr, &w);
    light_in = static_cast<bool>(l3);
  });
  ASSERT_TRUE(eventually([&] { return gate.queued() == 2; }));
  l1.release();  // the heavy search waited longer, but the light one goes first
  light.join();
  EXPECT_TRUE(light_in);
  EXPECT_FALSE(heavy_in);
  EXPECT_EQ(gate.queued(), 1u);
  l2.release();
  heavy.join();
  EXPECT_TRUE(heavy_in);
  EXPECT_EQ(gate.running_heavy(), 2u);
  gate.close();
  EXPECT_FALSE(gate.enter(Kind::kLight, kShort, nullptr, &why));
  EXPECT_EQ(why, Refusal::kClosed);
}

TEST(SearchWeight, ScansAndBroadQueriesAreHeavy) {
  testing::ScratchDir dir;
  std::string text = "zzqq.example.com\t4:5e0be100:1\n";  // a shorter label sorts first
  for (int i = 0; i < 200; ++i) text += "host" + std::to_string(1000 + i) + ".example.com\t4:5e0be100:1\n";
  const std::string path = dir.file("names.idx");
  testing::write_index(path, text);
  const std::vector<TgdbRef> indexes{tgdb_load(path)};
  ASSERT_TRUE(indexes[0]);
  EXPECT_EQ(search_weight(nullptr, indexes), Kind::kHeavy);
  tgr_ptr rare = tgr_single(trigram_ordinal('z', 'z', 'q'));
  EXPECT_EQ(search_weight(rare.get(), indexes), Kind::kLight);
  tgr_ptr everywhere = tgr_single(trigram_ordinal('c', 'o', 'm'));  // every line: a scan
  EXPECT_EQ(search_weight(everywhere.get(), indexes), Kind::kHeavy);
}

}  // namespace
}  // namespace quarn
