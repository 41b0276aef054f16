// The quarnsearch program driven from outside: command-line errors and exit statuses,
// output forms, merging across index files, filters, limits, timeouts, standard input
// and data sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "index/format.h"
#include "index/name_order.h"
#include "index/tgdb.h"
#include "support/e2e_support.h"

namespace quarn::test {
namespace {

// 2020-01-01 00:00:00 UTC, the time most fixture records are seen at.
constexpr const char* kT0 = "5e0be100";

std::vector<std::string> sorted_names(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end(),
            [](const std::string& a, const std::string& b) { return name_order(a, b) < 0; });
  return lines;
}

std::string usage(const std::string& p) {
  return "\nUsage: " + p +
         " <-f fileset | -l idxfile [-l idxfile2 ...]> [-s search_expr] [-g] [-j | -r] "
         "[-L #limit] [-t timeout] [-v[v]]\n"
         "-f  performs a search against the contents of a tgdb fileset.\n"
         "-l  specifies that the trigram index be loaded from the specified file or files, for "
         "multi-search.\n"
         "-s  indicates an optional search string; otherwise, input will be read from stdin.\n"
         "-g  enables globbing mode (default is regular expressions).\n"
         "-j  enables output of results in json mode (ala quarnbackendd).\n"
         "-r  produces results in raw mode (as intermediate data).\n"
         "-t  specify timeout in seconds since last search result. May be a decimal number for "
         "sub-second timeout.\n"
         "-L  specifies a limit for results in search mode (default = 10000).\n"
         "-v  can be specified multiple times and increases output verbosity.\n"
         "-A  specifies time after.\n"
         "-B  specifies time before.\n"
         "-c  selects 'complete' time matching.\n"
         "Ex. 1: " + p + " -l /path/to/index\n"
         "Ex. 2: " + p + " -l /path/to/index1 -l /path/to/index2\n\n";
}

class QuarnsearchCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two owner-name indexes sharing www.example.com, plus one rdata index.
    write_index(a_, sorted_names({
                        "www.example.com\t4:64,64:2 n:64:1",
                        "mail.example.com\t4:" + std::string(kT0) + ",15180:3 n:" + kT0 + ":1",
                        "old.example.org\t4:3b9aca00:7",  // 2001-09-09
                        "nocount.example.net\t4:" + std::string(kT0),
                        "odd.example.net\t65280:" + std::string(kT0) + ":2",
                    }),
                false);
    write_index(b_, sorted_names({
                        "www.example.com\t4:32,64:3",
                        "ftp.example.com\tc:" + std::string(kT0) + ":4",
                    }),
                false);
    write_index(rdata_, {"1.2.3.4\t4/01020304 4:" + std::string(kT0) + ":9"}, true);
  }

  RunResult search(std::vector<std::string> extra, const std::string& expr) {
    std::vector<std::string> args = {"-l", a_, "-l", b_, "-r", "-s", expr};
    args.insert(args.begin(), extra.begin(), extra.end());
    return run_quarnsearch(args);
  }

  TempDir dir_;
  std::string a_ = dir_.file("a.idx");
  std::string b_ = dir_.file("b.idx");
  std::string rdata_ = dir_.file("rdata.idx");
  std::string bin_ = quarnsearch_path();
};

TEST_F(QuarnsearchCli, CommandLineErrorsPrintTheirMessageAndExitOne) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string missing = dir_.file("missing");
  const std::vector<Case> cases = {
      {{}, "Error: must supply at least one of -l or -f\n" + usage(bin_)},
      {{"-s", "x"}, "Error: must supply at least one of -l or -f\n" + usage(bin_)},
      {{"-A", "5x", "-l", a_}, "invalid time '5x'\n"},
      {{"-B", "1d2", "-l", a_}, "invalid time '1d2'\n"},
      {{"-L", "0", "-l", a_}, "Invalid search limit specified: 0\n"},
      {{"-L", "many", "-l", a_}, "Invalid search limit specified: many\n"},
      {{"-l", a_, "-j", "-r", "-s", "x"}, "Error: cannot supply -j and -r options together.\n"},
      {{"-f", missing}, "Error: could not access fileset " + missing + ": No such file or directory\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = run_quarnsearch(c.args);
    EXPECT_EQ(r.status, 1) << c.args.size();
    // Loading an index logs an info line or two before the error; the message ends it.
    ASSERT_GE(r.err.size(), c.err.size());
    EXPECT_EQ(r.err.substr(r.err.size() - c.err.size()), c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(QuarnsearchCli, ConflictingSourcesAndBadOptionsPrintUsage) {
  const std::string set = dir_.file("set");
  write_file(set, "a.idx\n");
  RunResult r = run_quarnsearch({"-l", a_, "-f", set});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-f may not be used with -l\n" + usage(bin_)), std::string::npos) << r.err;

  r = run_quarnsearch({"-f", set, "-l", a_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("-l may not be used with -f\n" + usage(bin_)), std::string::npos) << r.err;

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-x"}, {"-l"}, {"-l", a_, "-s"}}) {
    r = run_quarnsearch(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(usage(bin_)), std::string::npos) << r.err;
  }
}

TEST_F(QuarnsearchCli, UnloadableIndexFailsToAdd) {
  const std::string missing = dir_.file("nope.idx");
  RunResult r = run_quarnsearch({"-l", missing, "-s", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Failed to add file " + missing + "\n"), std::string::npos) << r.err;

  // The first index fixes the kind; an rdata index after an owner-name index is refused.
  r = run_quarnsearch({"-l", a_, "-l", rdata_, "-s", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("rdata file " + rdata_ + " rejected from rrname file list"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Failed to add file " + rdata_ + "\n"), std::string::npos) << r.err;
}

TEST_F(QuarnsearchCli, LogLevelFromEnvironment) {
  RunResult r = run_quarnsearch({"-l", a_, "-s", "zzz"}, "", {"QUARN_LOGLEVEL=bogus"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Warning: invalid log level 'bogus' in QUARN_LOGLEVEL\n"), std::string::npos);
  // The program's log prefix is its invocation name, cut to 37 characters.
  const std::string prefix = bin_.substr(0, 37) + ": ";
  EXPECT_NE(r.err.find(prefix + "Starting, logging level 'info'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("search-1: Dispatching search: [zzz]"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(prefix + "Exiting..."), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Pattern finished"), std::string::npos);  // a debug line

  r = run_quarnsearch({"-l", a_, "-s", "zzz"}, "", {"QUARN_LOGLEVEL=DEBUG"});
  EXPECT_NE(r.err.find("Starting, logging level 'debug'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("search-1: Pattern finished: "), std::string::npos) << r.err;

  // Each -v is one step; the statistics report appears from "stat" on.
  r = run_quarnsearch({"-v", "-l", a_, "-s", "zzz"});
  EXPECT_NE(r.err.find("Starting, logging level 'stat'"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("search-1:     Total Elapsed: "), std::string::npos) << r.err;
}

TEST_F(QuarnsearchCli, BadPatternFailsTheSearch) {
  const RunResult r = run_quarnsearch({"-l", a_, "-s", "(www"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("search-1: Error in regex pattern: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Error encountered while running search"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Exiting..."), std::string::npos);

  // An expression whose compile would run away is refused on the same path, at once.
  std::string runaway;
  for (int i = 0; i < 1300; ++i) runaway += std::string(1, static_cast<char>('a' + i % 26)) + ".?";
  const RunResult hostile = run_quarnsearch({"-l", a_, "-s", runaway});
  EXPECT_EQ(hostile.status, 1);
  EXPECT_NE(hostile.err.find("search-1: Error in regex pattern: expression too complex"),
            std::string::npos) << hostile.err;
}

TEST_F(QuarnsearchCli, DamagedLineIndexFailsTheSearch) {
  std::vector<std::string> lines;
  char name[48];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(name, sizeof name, "host%03d.example\t1:%s:1", i, kT0);
    lines.push_back(name);
  }
  const std::string path = dir_.file("damaged.idx");
  write_index(path, sorted_names(lines), false);
  uint64_t entry3 = 0;
  {
    TgdbRef t = tgdb_load(path);
    ASSERT_TRUE(t);
    entry3 = static_cast<uint64_t>(t->line_index() - t->base()) + 3 * kLineIndexEntrySize;
  }
  // Moves the offset of the entry for lines 192-255 one byte into a line.
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, static_cast<long>(entry3), SEEK_SET), 0);
  const int low = std::fgetc(f);
  ASSERT_EQ(std::fseek(f, static_cast<long>(entry3), SEEK_SET), 0);
  std::fputc(low + 1, f);
  std::fclose(f);

  const RunResult r = run_quarnsearch({"-l", path, "-r", "-s", "host25[0-9]"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.out.find("ost25"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Error: line index of " + path + " is damaged"), std::string::npos)
      << r.err;
}

TEST_F(QuarnsearchCli, CompilingCountsAgainstTheTimeout) {
  // A long bounded repeat takes far more than a millisecond to compile but is accepted.
  const RunResult r = run_quarnsearch({"-l", a_, "-t", "0.001", "-s", "[ab]{3000}"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Search timed out after 0 results"), std::string::npos) << r.err;
}

TEST_F(QuarnsearchCli, MergesObservationsAcrossIndexes) {
  // A: counts 2 + 3, first 50 (0x32), last 200 (0x32 + 0x96); NS only in one index.
  RunResult r = search({}, "^www\\.example\\.com$");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "www.example.com\t4:32,96:5 n:64:1\n");

  r = run_quarnsearch({"-l", a_, "-l", b_, "-s", "^www\\.example\\.com$"}, "", {"TZ=UTC"});
  EXPECT_EQ(r.out,
            "www.example.com       A/5 [1970-01-01 00:00:50 / 1970-01-01 00:03:20]\t"
            "NS/1 [1970-01-01 00:01:40 / 1970-01-01 00:01:40]\n");
}

TEST_F(QuarnsearchCli, OutputFormsOfUnusualRecords) {
  // No count reads as 0 and is reported as 1; a type without mnemonic keeps its number.
  RunResult r = search({}, "example\\.net$");
  EXPECT_EQ(r.out,
            "odd.example.net\t65280:5e0be100:2\n"
            "nocount.example.net\t4:5e0be100:1\n");
  r = run_quarnsearch({"-l", a_, "-s", "^odd"}, "", {"TZ=UTC"});
  EXPECT_EQ(r.out, "odd.example.net       TYPE65280/2 [2020-01-01 00:00:00 / 2020-01-01 00:00:00]\n");

  r = run_quarnsearch({"-l", rdata_, "-s", "1\\.2\\.3"}, "", {"TZ=UTC"});
  EXPECT_EQ(r.out, "1.2.3.4       A/9 [2020-01-01 00:00:00 / 2020-01-01 00:00:00]\n\t01020304\n");
  r = run_quarnsearch({"-l", rdata_, "-r", "-s", "1\\.2\\.3"});
  EXPECT_EQ(r.out, "1.2.3.4\t4/01020304 4:5e0be100:9\n");
}

TEST_F(QuarnsearchCli, TimeFiltersSelectRecords) {
  // mail: 2020-01-01 .. 2020-01-02; old: 2001; www and ftp: 1970 / 2020.
  RunResult r = search({"-A", "2019-12-31"}, "example");
  // Owner names sort by their labels from the right, shorter labels first.
  EXPECT_EQ(r.out,
            "ftp.example.com\tc:5e0be100:4\n"
            "mail.example.com\t4:5e0be100,15180:3 n:5e0be100:1\n"
            "odd.example.net\t65280:5e0be100:2\n"
            "nocount.example.net\t4:5e0be100:1\n");
  // Overlap: last seen at or after 2020-01-01 12:00 keeps only mail's A record.
  r = search({"-A", "2020-01-01 12:00:00"}, "example");
  EXPECT_EQ(r.out, "mail.example.com\t4:5e0be100,15180:3\n");
  // Complete: first seen at or after the bound drops it again.
  r = search({"-c", "-A", "2020-01-01 12:00:00"}, "example");
  EXPECT_EQ(r.out, "");
  // -B: first seen at or before 2002 keeps the 1970 and 2001 records only.
  r = search({"-B", "2002-01-01"}, "example");
  EXPECT_EQ(r.out,
            "www.example.com\t4:32,96:5 n:64:1\n"
            "old.example.org\t4:3b9aca00:7\n");
  // Both bounds are inclusive.
  r = search({"-c", "-A", "1577836800", "-B", "1577836800"}, "example");
  EXPECT_EQ(r.out,
            "ftp.example.com\tc:5e0be100:4\n"
            "mail.example.com\tn:5e0be100:1\n"
            "odd.example.net\t65280:5e0be100:2\n"
            "nocount.example.net\t4:5e0be100:1\n");

  // An index whose time fence touches a bound is still searched: its boundary records
  // pass the inclusive record test.
  const std::string fenced = dir_.file("fenced.idx");
  write_index(fenced, {"edge.example.com\t4:5e0be100,15180:1"}, false,
              TimeFence{true, 1577836800, 1577923200});
  r = run_quarnsearch({"-l", fenced, "-r", "-B", "1577836800", "-s", "edge"});
  EXPECT_EQ(r.out, "edge.example.com\t4:5e0be100,15180:1\n") << r.err;
  r = run_quarnsearch({"-l", fenced, "-r", "-A", "1577923200", "-s", "edge"});
  EXPECT_EQ(r.out, "edge.example.com\t4:5e0be100,15180:1\n") << r.err;
  r = run_quarnsearch({"-l", fenced, "-r", "-A", "1577923201", "-s", "edge"});
  EXPECT_EQ(r.out, "");
  r = run_quarnsearch({"-l", fenced, "-r", "-c", "-A", "1577923201", "-s", "edge"});
  EXPECT_EQ(r.out, "");
}

TEST_F(QuarnsearchCli, LimitStopsBeforeTheNextPull) {
  RunResult r = search({"-L", "1", "-v"}, "example");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(count_occurrences(r.out, "\n"), 1) << r.out;
  EXPECT_NE(r.err.find("Search completed after 1 results"), std::string::npos) << r.err;
  // One merger call tests exactly one candidate key; a second pull would test more.
  EXPECT_NE(r.err.find("  Trigram Matches: 1 ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("          Results: 1 ("), std::string::npos) << r.err;

  r = search({"-L", "-1"}, "example");
  EXPECT_EQ(count_occurrences(r.out, "\n"), 6) << r.out;
  r = search({"-L", "2"}, "example");
  EXPECT_EQ(count_occurrences(r.out, "\n"), 2) << r.out;
}

TEST_F(QuarnsearchCli, StandardInputRunsOneSearchPerLine) {
  RunResult r = run_quarnsearch({"-l", a_, "-l", b_, "-r"}, "^www\r\n\r\n\n^ftp\r\n^mail");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "www.example.com\t4:32,96:5 n:64:1\n"
            "ftp.example.com\tc:5e0be100:4\n"
            "mail.example.com\t4:5e0be100,15180:3 n:5e0be100:1\n");
  EXPECT_NE(r.err.find("search-3: Dispatching search: [^mail]"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("search-4"), std::string::npos);
  ASSERT_NE(r.err.find("EOF\n"), std::string::npos) << r.err;
  EXPECT_GT(r.err.find("EOF\n"), r.err.find("search-3: Search completed"));

  // A failing search stops the loop: the third line never runs and no EOF is written.
  r = run_quarnsearch({"-l", a_, "-r"}, "^www\n(bad\n^mail\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "www.example.com\t4:64,64:2 n:64:1\n");
  EXPECT_EQ(r.err.find("EOF"), std::string::npos);
  EXPECT_EQ(r.err.find("search-3"), std::string::npos);

  // A line longer than 4095 bytes is one bad expression, not several searches.
  const std::string long_line(5000, 'q');
  r = run_quarnsearch({"-l", a_}, long_line + "\n^www\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("search-1: Error in regex pattern: input line longer than 4095 bytes"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("search-2"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Dispatching"), std::string::npos) << r.err;
}

TEST_F(QuarnsearchCli, GlobsAreAnchoredAtBothEnds) {
  RunResult r = search({"-g"}, "*.example.com");
  EXPECT_EQ(r.out,
            "ftp.example.com\tc:5e0be100:4\n"
            "www.example.com\t4:32,96:5 n:64:1\n"
            "mail.example.com\t4:5e0be100,15180:3 n:5e0be100:1\n");
  r = search({"-g"}, "example");
  EXPECT_EQ(r.out, "");
}

TEST_F(QuarnsearchCli, FilesetSkipsBadEntriesAndRejectsTheOtherKind) {
  const std::string set = dir_.file("set");
  // Entries are kept sorted by name: a.idx fixes the kind before rdata.idx is seen.
  write_file(set, "a.idx\n" + b_ + "\nmissing.idx\nrdata.idx\n");
  RunResult r = run_quarnsearch({"-f", set, "-r", "-s", "^www"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "www.example.com\t4:32,96:5 n:64:1\n");
  EXPECT_NE(r.err.find("rdata file " + rdata_ + " rejected from rrname fileset " + set),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Fileset " + set + ": cannot read " + dir_.file("missing.idx") + ": "),
            std::string::npos)
      << r.err;

  // A set file without a loadable index gives an empty data source.
  write_file(set, "missing.idx\n");
  r = run_quarnsearch({"-f", set, "-s", "^www"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("search-1: Error dispatching search: empty data source"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error encountered while running search"), std::string::npos);
}

TEST_F(QuarnsearchCli, TimeoutEndsASearchWithoutResults) {
  // A table scan over many lines that nothing matches: the deadline passes mid-scan.
  std::vector<std::string> lines;
  for (int i = 0; i < 60000; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "host%05d.scan.example\t4:%s:1", i, kT0);
    lines.push_back(name);
  }
  const std::string big = dir_.file("big.idx");
  write_index(big, sorted_names(lines), false);
  const std::string never = "^.{200}$";

  RunResult r = run_quarnsearch({"-l", big, "-t", "0.001", "-s", never});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Search timed out after 0 results"), std::string::npos) << r.err;

  for (const char* none : {"0", "soon"}) {
    r = run_quarnsearch({"-l", big, "-t", none, "-s", never});
    EXPECT_NE(r.err.find("Search completed after 0 results"), std::string::npos) << r.err;
  }

  // The timeout counts from the last result: a steady stream of results is not cut off.
  r = run_quarnsearch({"-l", big, "-r", "-L", "-1", "-t", "0.5", "-s", "scan"});
  EXPECT_NE(r.err.find("Search completed after 60000 results"), std::string::npos) << r.err;
  EXPECT_EQ(count_occurrences(r.out, "\n"), 60000);
}

TEST_F(QuarnsearchCli, DamagedIndexFilesNeverCrashTheProgram) {
  const std::string good = read_file(a_);
  const std::string bad = dir_.file("bad.idx");
  // Truncated files are refused at load time.
  for (size_t size : {size_t{0}, size_t{47}, size_t{1102783}, good.size() / 2, good.size() - 1}) {
    write_file(bad, good.substr(0, std::min(size, good.size())));
    const RunResult r = run_quarnsearch({"-l", bad, "-s", "example"});
    EXPECT_EQ(r.status, 1) << size << "\n" << r.err;
    EXPECT_NE(r.err.find("Failed to add file " + bad), std::string::npos) << r.err;
  }
  // Bytes flipped anywhere (header, tables, lines, reference lists): the program may
  // refuse the file or find less, but it must end normally.
  std::mt19937 rng(5);
  for (int round = 0; round < 24; ++round) {
    std::string damaged = good;
    for (int i = 0; i < 16; ++i) {
      const size_t pos = round % 2 == 0 ? rng() % damaged.size()
                                        : damaged.size() - 1 - rng() % std::min<size_t>(damaged.size(), 8192);
      damaged[pos] = static_cast<char>(rng());
    }
    write_file(bad, damaged);
    for (const char* expr : {"example", "^.{3}", "www|mail"}) {
      const RunResult r = run_quarnsearch({"-l", bad, "-r", "-s", expr});
      EXPECT_LT(r.status, 2) << "round " << round << " " << expr << "\n" << r.err;
    }
  }
}

TEST_F(QuarnsearchCli, FilesetReloadsAfterTheIntervalWhenTheSetFileChanges) {
  const std::string set = dir_.file("set");
  write_file(set, "a.idx\n");
  InteractiveRun run({"-f", set, "-r"}, {"QUARN_LOGLEVEL=debug"});
  const auto started = std::chrono::steady_clock::now();

  run.send_line("^ftp");
  ASSERT_TRUE(run.wait_for_err("Search completed", 1, 5000)) << run.err();
  // Replace the set file (new inode): within the interval nothing changes.
  write_file(dir_.file("set.new"), "b.idx\n");
  ASSERT_EQ(std::rename(dir_.file("set.new").c_str(), set.c_str()), 0);
  run.send_line("^ftp");
  ASSERT_TRUE(run.wait_for_err("Search completed", 2, 5000)) << run.err();
  EXPECT_EQ(run.out(), "");

  std::this_thread::sleep_until(started + std::chrono::milliseconds(6200));
  run.send_line("^ftp");
  ASSERT_TRUE(run.wait_for_err("Search completed", 3, 5000)) << run.err();
  EXPECT_EQ(run.finish(), 0);
  EXPECT_EQ(run.out(), "ftp.example.com\tc:5e0be100:4\n");
  EXPECT_NE(run.err().find("Fileset " + set + " unloading " + a_), std::string::npos) << run.err();
  EXPECT_NE(run.err().find("Fileset " + set + " loading " + b_), std::string::npos) << run.err();
}

}  // namespace
}  // namespace quarn::test
