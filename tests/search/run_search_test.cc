// The search driver in process (so that it also runs under the sanitizers): results,
// failures, limits, timeouts, the standard-input loop and the program's exit statuses.
#include "search/run_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "output/output_buffer.h"
#include "retrieval/data_source.h"
#include "search/command_line.h"
#include "support/e2e_support.h"

namespace quarn::test {
namespace {

// Reads back everything written to f so far.
std::string contents(FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

class RunSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    log_set_level(LOG_FAILURE);
    write_index(a_, {"ftp.example.com\tc:5e0be100:4", "www.example.com\t4:64,64:2 n:64:1",
                     "mail.example.com\t4:5e0be100:3"},
                false);
    write_index(b_, {"www.example.com\t4:32,64:3"}, false);
    ASSERT_TRUE(list_.add(a_));
    ASSERT_TRUE(list_.add(b_));
    options_.source = &list_;
    options_.raw = true;
    out_file_ = std::tmpfile();
    ASSERT_NE(out_file_, nullptr);
    out_ = std::make_unique<OutputBuffer>(out_file_);
  }
  void TearDown() override {
    out_.reset();
    std::fclose(out_file_);
  }

  TempDir dir_;
  std::string a_ = dir_.file("a.idx");
  std::string b_ = dir_.file("b.idx");
  index_list list_;
  SearchOptions options_;
  FILE* out_file_ = nullptr;
  std::unique_ptr<OutputBuffer> out_;
};

TEST_F(RunSearch, PrintsMergedResultsCompleteWhenTheSearchEnds) {
  EXPECT_TRUE(run_search(options_, "example", *out_));
  // Read before the buffer is destroyed: run_search itself must have flushed.
  EXPECT_EQ(contents(out_file_),
            "ftp.example.com\tc:5e0be100:4\n"
            "www.example.com\t4:32,96:5 n:64:1\n"
            "mail.example.com\t4:5e0be100:3\n");
}

TEST_F(RunSearch, LimitAndTimeFilters) {
  options_.limit = 2;
  EXPECT_TRUE(run_search(options_, "example", *out_));
  EXPECT_EQ(contents(out_file_), "ftp.example.com\tc:5e0be100:4\nwww.example.com\t4:32,96:5 n:64:1\n");

  options_.limit = kDefaultResultLimit;
  options_.after_set = true;
  options_.after = 1577836800;
  options_.complete = true;
  EXPECT_TRUE(run_search(options_, "www|mail", *out_));
  // www was first seen in 1970: only mail is added by the second search.
  EXPECT_EQ(contents(out_file_),
            "ftp.example.com\tc:5e0be100:4\nwww.example.com\t4:32,96:5 n:64:1\n"
            "mail.example.com\t4:5e0be100:3\n");
}

TEST_F(RunSearch, OtherOutputForms) {
  options_.raw = false;
  options_.json = true;
  EXPECT_TRUE(run_search(options_, "^mail", *out_));
  const std::string json = contents(out_file_);
  EXPECT_EQ(json.find("{\"details\":{\"rrname\":\"mail.example.com\",\"rrtype\":\"A\""), 0u) << json;
  EXPECT_EQ(json.back(), '\n');
}

TEST_F(RunSearch, FailuresReturnFalse) {
  EXPECT_FALSE(run_search(options_, "(unclosed", *out_));
  options_.glob = true;
  EXPECT_FALSE(run_search(options_, "[z-a]", *out_));
  EXPECT_EQ(contents(out_file_), "");

  const std::string set = dir_.file("set");
  write_file(set, "missing.idx\n");
  auto fs = fileset::create(set);
  ASSERT_TRUE(fs);
  options_.glob = false;
  options_.source = fs.get();
  EXPECT_FALSE(run_search(options_, "www", *out_));
}

TEST_F(RunSearch, TimeoutEndsTheSearchAsSuccess) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20000; ++i) lines.push_back("h" + std::to_string(100000 + i) + ".scan\t4:5e0be100:1");
  std::sort(lines.begin(), lines.end());  // one label of equal length: bytewise is name order
  const std::string big = dir_.file("big.idx");
  write_index(big, lines, false);
  index_list list;
  ASSERT_TRUE(list.add(big));
  options_.source = &list;
  // Capture the search's log lines: the outcome is only visible there.
  FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  log_set_stream(log);
  log_set_level(LOG_INFO);
  options_.timeout = 1e-6;
  const bool timed = run_search(options_, "^.{100}$", *out_);
  options_.timeout = 10;
  options_.limit = static_cast<uint64_t>(-1);
  const bool full = run_search(options_, "scan$", *out_);
  log_set_stream(stderr);
  log_set_level(LOG_FAILURE);
  const std::string logged = contents(log);
  std::fclose(log);

  EXPECT_TRUE(timed);
  EXPECT_NE(logged.find(": Search timed out after 0 results"), std::string::npos) << logged;
  EXPECT_TRUE(full);
  EXPECT_NE(logged.find(": Search completed after 20000 results"), std::string::npos) << logged;
  EXPECT_EQ(count_occurrences(contents(out_file_), "\n"), 20000);
}

TEST_F(RunSearch, StreamRunsOneSearchPerLineAndStopsAtAFailure) {
  char input[] = "^ftp\r\n\r\n\n^mail\r\n";
  FILE* in = fmemopen(input, sizeof input - 1, "r");
  ASSERT_NE(in, nullptr);
  EXPECT_TRUE(run_search_stream(options_, in, *out_));
  std::fclose(in);
  EXPECT_EQ(contents(out_file_), "ftp.example.com\tc:5e0be100:4\nmail.example.com\t4:5e0be100:3\n");

  char bad[] = "(\n^www\n";
  in = fmemopen(bad, sizeof bad - 1, "r");
  EXPECT_FALSE(run_search_stream(options_, in, *out_));
  std::fclose(in);
  EXPECT_EQ(count_occurrences(contents(out_file_), "www"), 0);
}

TEST_F(RunSearch, StreamTakesALineWithANulAsOneBadExpression) {
  // Before, the line was cut at the NUL and "^mail" searched. (The over-long line is
  // covered by the program test.)
  auto run = [this](const std::string& input, std::string& logged) {
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    FILE* log = std::tmpfile();
    log_set_stream(log);
    log_set_level(LOG_INFO);
    const bool ok = run_search_stream(options_, in, *out_);
    log_set_stream(stderr);
    log_set_level(LOG_FAILURE);
    logged = contents(log);
    std::fclose(log);
    std::fclose(in);
    return ok;
  };
  std::string logged;
  EXPECT_FALSE(run(std::string("^mail\0zzz\n", 10), logged));
  EXPECT_EQ(count_occurrences(logged, "Error in regex pattern: input line holds a NUL byte"), 1)
      << logged;
  EXPECT_EQ(contents(out_file_), "");

  // The longest allowed line is still one search.
  EXPECT_TRUE(run("^" + std::string(4094, 'w') + "\r\n", logged));
  EXPECT_EQ(count_occurrences(logged, "Dispatching search"), 1) << logged;
}

TEST_F(RunSearch, ProgramExitStatus) {
  auto run = [](std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return quarnsearch_main(static_cast<int>(args.size()), argv.data());
  };
  EXPECT_EQ(run({"quarnsearch"}), 1);
  EXPECT_EQ(run({"quarnsearch", "-l", a_, "-j", "-r", "-s", "x"}), 1);
  EXPECT_EQ(run({"quarnsearch", "-l", a_, "-L", "0"}), 1);
  EXPECT_EQ(run({"quarnsearch", "-l", a_, "-s", "zzz"}), 0);
  EXPECT_EQ(run({"quarnsearch", "-l", a_, "-s", "(zzz"}), 1);
  EXPECT_EQ(run({"quarnsearch", "-l", a_, "-A", "1d", "-c", "-g", "-t", "2", "-s", "*.com"}), 0);
  // The program set the process-wide log context; leave it as the other tests expect.
  log_set_prefix("%s", "");
  log_set_level(LOG_FAILURE);
}

}  // namespace
}  // namespace quarn::test
