// Drives the quarnlookup program: help, command-line errors, JSON and text records from
// one store and from several, and a damaged store.
#include <gtest/gtest.h>

#include <cstdlib>

#include "store/record_gen.h"
#include "support/e2e_support.h"
#include "support/scratch_dir.h"

namespace quarn::testing {
namespace {

std::string lookup_path() {
  const char* dir = std::getenv("QUARN_BIN_DIR");
  return std::string(dir != nullptr ? dir : "build/bin") + "/quarnlookup";
}

quarn::test::RunResult lookup(const std::vector<std::string>& args) {
  return quarn::test::run_program(lookup_path(), args, "", {"TZ=UTC"});
}

const std::string kAddr("\xc0\x00\x02\x01", 4);

class QuarnLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    write_store(day1_, {{"www.example.com", 1, kAddr, 1700000000, 1700000100, 2, "example.com"},
                        {"mail.example.com", 1, kAddr, 1700000050, 1700000060, 1, ""}});
    write_store(day2_, {{"www.example.com", 1, kAddr, 1700086400, 1700086500, 5, ""}});
  }
  ScratchDir dir_;
  std::string day1_ = dir_.file("day1.qrs"), day2_ = dir_.file("day2.qrs");
};

TEST_F(QuarnLookup, HelpAndCommandLineErrors) {
  auto r = lookup({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: quarnlookup", 0), 0u);
  r = lookup({"-R", day1_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error: give exactly one of -n and -V\n", 0), 0u);
  r = lookup({"-n", "example.com"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: give at least one record store with -R or -f\n");
  r = lookup({"-R", day1_, "-V", "10.0.0.0/40"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: invalid address prefix '10.0.0.0/40' (argument '10.0.0.0/40')\n");
  r = lookup({"-R", day1_, "-n", "x.com", "-A", "yesterday"});
  EXPECT_EQ(r.err, "Error: invalid time 'yesterday' for -A\n");
  r = lookup({"-R", dir_.file("nope"), "-n", "x.com"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error: cannot open record store " + dir_.file("nope")), std::string::npos);
}

TEST_F(QuarnLookup, PrintsMergedRecordsAsCofOrText) {
  auto r = lookup({"-R", day1_, "-R", day2_, "-n", "WWW.example.com.", "-j"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"rrname\":\"www.example.com\",\"rrtype\":\"A\",\"rdata\":\"192.0.2.1\","
            "\"time_first\":1700000000,\"time_last\":1700086500,\"count\":7,"
            "\"bailiwick\":\"example.com\"}\n");
  r = lookup({"-R", day1_, "-R", day2_, "-V", "192.0.2.0/24", "-B", "2023-11-14 22:14:15"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Names in name order: a shorter label first, so www before mail.
  EXPECT_EQ(r.out,
            "www.example.com                  A      192.0.2.1                        "
            "2023-11-14 22:13:20 2023-11-15 22:15:00 7        example.com\n"
            "mail.example.com                 A      192.0.2.1                        "
            "2023-11-14 22:14:10 2023-11-14 22:14:20 1\n");
  quarn::test::write_file(dir_.file("set"), "day1.qrs\nday2.qrs\n");
  r = lookup({"-f", dir_.file("set"), "-V", "192.0.2.1", "-j", "-O", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"rrname\":\"mail.example.com\"", 0), 0u) << r.out;
}

TEST_F(QuarnLookup, FailuresNameTheFileOrTheRecord) {
  write_store(dir_.file("odd.qrs"), {{"caf\xe9.example", 1, kAddr, 1, 2, 1, ""}});
  auto odd = lookup({"-R", dir_.file("odd.qrs"), "-V", "192.0.2.1", "-j"});
  EXPECT_EQ(odd.status, 1);
  EXPECT_NE(odd.err.find("Error: record of 'caf\xe9.example' cannot be written as JSON, skipped\n"),
            std::string::npos) << odd.err;

  const std::string bytes = quarn::test::read_file(day1_);
  const std::string bad = dir_.file("bad.qrs");
  std::string flipped = bytes;
  flipped[bytes.size() - 30] ^= 0x55;
  quarn::test::write_file(bad, flipped);
  auto r = lookup({"-R", bad, "-V", "192.0.2.1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error: record store " + bad + ": damaged"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace quarn::testing
