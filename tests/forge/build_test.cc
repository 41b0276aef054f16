#include "forge/build.h"
#include "forge/run_spiller.h"
#include "forge/sortab.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "index/index_writer.h"
#include "index/tgdb.h"
#include "support/scratch_dir.h"

namespace quarn {
namespace {

class BuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::string(::testing::TempDir()) + "/gfbuild-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    tmp_ = dir_ + "/tmp";
    mkdir(dir_.c_str(), 0700);
    mkdir(tmp_.c_str(), 0700);
    report_ = tmpfile();
  }
  void TearDown() override {
    fclose(report_);
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }

  std::string file(const std::string& name, const std::string& text, bool gzip = false) {
    const std::string path = dir_ + "/" + name;
    if (gzip) {
      gzFile gz = gzopen(path.c_str(), "wb");
      gzwrite(gz, text.data(), static_cast<unsigned>(text.size()));
      gzclose(gz);
    } else {
      std::ofstream(path, std::ios::binary) << text;
    }
    return path;
  }

  BuildOptions options(std::vector<std::string> inputs, const std::string& tag) {
    BuildOptions o;
    o.inputs = std::move(inputs);
    o.rrname_out = dir_ + "/" + tag + "-names.idx";
    o.rdata_out = dir_ + "/" + tag + "-rdata.idx";
    o.tmpdir = tmp_;
    o.memory_budget = kMinSortBudget;
    o.report = report_;
    o.progress = false;
    return o;
  }

  bool build(const BuildOptions& o) {
    error_.clear();
    return run_build(o, &stats_, &error_);
  }

  std::string report() {
    fflush(report_);
    rewind(report_);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, report_)) > 0) out.append(buf, n);
    return out;
  }

  static std::vector<std::string> lines_of(const std::string& path) {
    TgdbRef t = tgdb_load(path);
    EXPECT_TRUE(t) << path;
    std::vector<std::string> out;
    if (!t) return out;
    std::string table(t->string_table(), t->string_table_size());
    size_t at = 0;
    while (at < table.size()) {
      const size_t nl = table.find('\n', at);
      out.push_back(table.substr(at, nl - at));
      at = nl + 1;
    }
    return out;
  }

  static std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  static bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }

  std::string dir_, tmp_, error_;
  FILE* report_ = nullptr;
  BuildStats stats_;
};

std::string cof(const std::string& name, const std::string& type, const std::string& rdata,
                long first, long last, long count) {
  return "{\"rrname\":\"" + name + "\",\"rrtype\":" + type + ",\"rdata\":" + rdata +
         ",\"time_first\":" + std::to_string(first) + ",\"time_last\":" +
         std::to_string(last) + ",\"count\":" + std::to_string(count) + "}\n";
}

TEST_F(BuildTest, RdataTextsOfCommonTypesAndTheSkipRules) {
  std::string in;
  in += cof("a.example.", "\"A\"", "\"192.0.2.1\"", 100, 200, 1);
  in += cof("a.example.", "\"AAAA\"", "\"2001:db8::1\"", 100, 200, 1);
  in += cof("example.", "\"NS\"", "\"NS1.Example.NET.\"", 100, 200, 1);
  in += cof("w.example.", "\"CNAME\"", "\"Target.example.\"", 100, 200, 1);
  in += cof("example.", "\"MX\"", "\"10 Mail.Example.\"", 100, 200, 1);
  in += cof("example.", "\"TXT\"", "\"\\\"v=spf1 -ALL\\\"\"", 100, 200, 1);
  in += cof("example.", "\"SOA\"", "\"ns.example. admin.example. 1 2 3 4 5\"", 100, 200, 1);
  in += cof("_s._tcp.example.", "33", "\"0 5 5060 Sip.Example.\"", 100, 200, 1);
  // Left out: a refused-ANY HINFO, a value over 256 bytes, a lone zero byte.
  for (int seen = 0; seen < 2; ++seen) {
    in += cof("example.", "\"HINFO\"", "\"\\\"RFC8482\\\" \\\"draft-ietf-dnsop-refuse-any\\\"\"",
              100 + seen, 200, 1);
  }
  in += cof("example.", "\"TXT\"", "\"" + std::string(150, 'x') + " " + std::string(150, 'y') + "\"",
            100, 200, 1);
  in += cof("example.", "65280", "\"\\\\# 1 00\"", 100, 200, 1);
  ASSERT_TRUE(build(options({file("in.json", in)}, "t"))) << error_;
  EXPECT_EQ(stats_.records, 12u);
  EXPECT_EQ(stats_.malformed, 0u);
  EXPECT_EQ(stats_.rdata_skipped, 3u);  // distinct values
  EXPECT_EQ(stats_.rdata_skipped_records, 4u);

  std::vector<std::string> keys;
  for (const auto& line : lines_of(dir_ + "/t-rdata.idx")) keys.push_back(line.substr(0, line.find('\t')));
  std::sort(keys.begin(), keys.end());
  const std::vector<std::string> want = {
      "\"v=spf1 -ALL\"", "0 5 5060 Sip.Example.", "10 mail.example.", "192.0.2.1",
      "2001:db8::1", "ns.example. admin.example.", "ns1.example.net.", "target.example."};
  EXPECT_EQ(keys, want);
  // Owner names: lower case, no trailing dot, one line per name with every type.
  const auto names = lines_of(dir_ + "/t-names.idx");
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], "example\tn:64,64:1 s:64,64:1 h:64,64:2 m:64,64:1 t:64,64:2 65280:64,64:1");
}

TEST_F(BuildTest, MergesObservationsAcrossFilesAndFormats) {
  const std::string a = file("a.json", cof("www.example.com.", "\"A\"", "\"192.0.2.1\"",
                                           1000, 2000, 3) +
                                           cof("example.com", "\"NS\"", "\"ns.example.com.\"",
                                               500, 500, 1));
  // The same observations later, compressed, one of them as a raw line.
  const std::string b =
      file("b.gz",
           cof("WWW.example.com", "1", "[\"192.0.2.1\",\"192.0.2.2\"]", 900, 1500, 4) +
               "example.com\tn:258:2\n" + "192.0.2.1\t4/c0000201 4:3e8,7d0:5\n",
           true);
  ASSERT_TRUE(build(options({a, b}, "m"))) << error_;
  EXPECT_EQ(stats_.records, 5u);
  EXPECT_EQ(lines_of(dir_ + "/m-names.idx"),
            (std::vector<std::string>{"example.com\tn:1f4,64:3",
                                      "www.example.com\t4:384,44c:7"}));
  EXPECT_EQ(lines_of(dir_ + "/m-rdata.idx"),
            (std::vector<std::string>{"ns.example.com.\t16/026e73076578616d706c6503636f6d00 n:1f4:1",
                                      "192.0.2.1\t4/c0000201 4:384,834:c",
                                      "192.0.2.2\t4/c0000202 4:384,258:4"}));
  TgdbRef t = tgdb_load(dir_ + "/m-names.idx");
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->has_timefence());
  EXPECT_EQ(t->earliest_seen(), 500u);
  EXPECT_EQ(t->latest_seen(), 2000u);
  EXPECT_FALSE(t->is_rdata());
  EXPECT_TRUE(tgdb_load(dir_ + "/m-rdata.idx")->is_rdata());
  // Runs and staged outputs are all gone; only the two indexes remain.
  EXPECT_EQ(quarn::testing::count_dir_entries(tmp_), 0u);
  EXPECT_EQ(quarn::testing::count_dir_entries(dir_), 5u);  // a.json, b.gz, tmp, and the two indexes
}

TEST_F(BuildTest, SpellingsOfOneValueMergeIntoOneKey) {
  std::string in;
  in += cof("example.", "\"MX\"", "\"10 MAIL.Example.COM.\"", 100, 200, 1);
  in += cof("example.", "\"MX\"", "\"10 mail.example.com.\"", 150, 300, 2);
  in += cof("t.example.", "\"TXT\"", "\"\\\"tab\\\\009sep\\\"\"", 100, 200, 1);
  // A raw owner-name line merges with the JSON spelling of its name.
  in += cof("www.example.com.", "\"A\"", "\"192.0.2.1\"", 100, 200, 1);
  in += "WWW.Example.COM.\t4:64,64:4\n";
  ASSERT_TRUE(build(options({file("in.json", in)}, "s"))) << error_;
  EXPECT_EQ(stats_.rdata_skipped, 0u);
  EXPECT_EQ(lines_of(dir_ + "/s-rdata.idx"),
            (std::vector<std::string>{
                "10 mail.example.com.\t20/000a046d61696c076578616d706c6503636f6d00 m:64,c8:3",
                "\"tab\\009sep\"\t8/0774616209736570 t:64,64:1",
                "192.0.2.1\t4/c0000201 4:64,64:1"}));
  EXPECT_EQ(lines_of(dir_ + "/s-names.idx"),
            (std::vector<std::string>{"www.example.com\t4:64,64:5", "example\tm:64,c8:3",
                                      "t.example\tt:64,64:1"}));
}

TEST_F(BuildTest, ABadRdataElementIsLeftOutAlone) {
  const std::string in = cof("b.example.", "\"A\"", "[\"192.0.2.1\",\"bad\",5]", 10, 20, 1);
  const std::string path = file("in.json", in);
  ASSERT_TRUE(build(options({path}, "e"))) << error_;
  EXPECT_EQ(stats_.records, 1u);
  EXPECT_EQ(stats_.malformed, 0u);
  EXPECT_EQ(stats_.rdata_skipped, 2u);
  EXPECT_EQ(lines_of(dir_ + "/e-names.idx"), (std::vector<std::string>{"b.example\t4:a,a:1"}));
  EXPECT_EQ(lines_of(dir_ + "/e-rdata.idx"), (std::vector<std::string>{"192.0.2.1\t4/c0000201 4:a,a:1"}));
  const std::string rep = report();
  const std::string want = std::string("in.json:1: ") + kReasonBadRdataElement;
  const size_t first = rep.find(want);
  ASSERT_NE(first, std::string::npos) << rep;
  EXPECT_NE(rep.find(want, first + 1), std::string::npos) << rep;

  BuildOptions strict = options({path}, "strict");
  strict.strict = true;
  EXPECT_FALSE(build(strict));
  EXPECT_NE(error_.find(want), std::string::npos) << error_;
}

TEST_F(BuildTest, ReIndexingTheLinesOfAnIndexGivesTheSameFiles) {
  std::string in;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = "h" + std::to_string(i % 700) + ".zone" + std::to_string(i % 13) + ".";
    in += cof(n, "\"A\"", "\"10.0." + std::to_string(i % 200) + "." + std::to_string(i % 7) + "\"",
              1600000000 + i, 1600000000 + 2 * i, 1 + i % 5);
    if (i % 3 == 0) in += cof(n, "\"MX\"", "\"" + std::to_string(i % 4) + " mx.Zone.\"", 1600000000, 1600000000 + i, 2);
  }
  ASSERT_TRUE(build(options({file("in.json", in)}, "first"))) << error_;
  std::string raw;
  for (const char* kind : {"/first-names.idx", "/first-rdata.idx"}) {
    for (const auto& line : lines_of(dir_ + kind)) raw += line + "\n";
  }
  ASSERT_TRUE(build(options({file("raw.txt", raw)}, "second"))) << error_;
  EXPECT_EQ(stats_.malformed, 0u);
  EXPECT_EQ(slurp(dir_ + "/first-names.idx"), slurp(dir_ + "/second-names.idx"));
  EXPECT_EQ(slurp(dir_ + "/first-rdata.idx"), slurp(dir_ + "/second-rdata.idx"));
}

TEST_F(BuildTest, MalformedLinesAreCountedReportedAndFatalWhenStrict) {
  std::string in = cof("ok.example.", "\"A\"", "\"192.0.2.1\"", 10, 20, 1);
  in += "{\"rrname\":\"t.example.\",\"rrtype\":\"A\",\n";                        // truncated
  in += cof("u.example.", "\"NOSUCHTYPE\"", "\"192.0.2.1\"", 10, 20, 1);          // type
  in += cof("r.example.", "\"A\"", "\"192.0.2\"", 10, 20, 1);                     // rdata
  in += cof("z.example.", "\"A\"", "\"192.0.2.9\"", 0, 20, 1);                    // time 0
  in += cof("o.example.", "\"A\"", "\"192.0.2.9\"", 30, 20, 1);                   // order
  in += "\n   \n";                                                                 // blank
  in += "example.com\tq:zz\n";                                                     // raw
  // A NUL must not hide the garbage behind an otherwise valid object.
  std::string hidden = cof("h.example.", "\"A\"", "\"192.0.2.1\"", 10, 20, 1);
  hidden.insert(hidden.size() - 1, std::string("\0junk", 5));
  in += hidden;
  const std::string path = file("in.json", in);
  BuildOptions loose = options({path}, "loose");
  loose.rejects_out = dir_ + "/rejects.tsv";
  loose.max_reported = 2;
  ASSERT_TRUE(build(loose)) << error_;
  EXPECT_EQ(stats_.lines, 10u);
  EXPECT_EQ(stats_.records, 1u);
  EXPECT_EQ(stats_.malformed, 7u);
  const std::string rep = report();
  EXPECT_NE(rep.find(":3: unknown rrtype\nWarning: further malformed"), std::string::npos) << rep;
  // The rejects file holds every one, the line escaped so that it stays one field.
  std::vector<std::string> rejects;
  std::istringstream tsv(slurp(loose.rejects_out));
  for (std::string l; std::getline(tsv, l);) rejects.push_back(l);
  ASSERT_EQ(rejects.size(), 7u);
  const char* want[] = {"2\tnot a valid JSON object", "3\tunknown rrtype",
                        "4\trdata does not parse", "5\ttime is not a non-zero",
                        "6\ttime_last is before time_first", "9\tannotation does not parse",
                        "10\tnot a valid JSON object"};
  for (size_t i = 0; i < rejects.size(); ++i) {
    EXPECT_EQ(rejects[i].rfind(path + "\t" + want[i], 0), 0u) << rejects[i];
  }
  EXPECT_EQ(rejects[5], path + "\t9\tannotation does not parse\texample.com\\tq:zz");

  BuildOptions strict = options({path}, "strict");
  strict.strict = true;
  EXPECT_FALSE(build(strict));
  EXPECT_NE(error_.find("in.json:2: not a valid JSON object"), std::string::npos) << error_;
  EXPECT_FALSE(exists(strict.rrname_out));
  EXPECT_FALSE(exists(strict.rdata_out));
  EXPECT_EQ(quarn::testing::count_dir_entries(tmp_), 0u);
  // A rejects file is an output like the others: refused when it exists, and never
  // left behind by a failed build.
  strict.rejects_out = loose.rejects_out;
  EXPECT_FALSE(build(strict));
  EXPECT_NE(error_.find("output file exists: " + loose.rejects_out), std::string::npos);
  strict.rejects_out = dir_ + "/strict.tsv";
  EXPECT_FALSE(build(strict));
  EXPECT_FALSE(exists(strict.rejects_out));
  EXPECT_EQ(quarn::testing::count_dir_entries(dir_), 5u);  // in.json, tmp, the loose outputs and rejects.tsv
}

TEST_F(BuildTest, ADamagedInputStopsTheBuildUnlessSkipped) {
  std::string in;
  for (int i = 0; i < 20000; ++i) {
    in += cof("h" + std::to_string(i) + ".example.", "\"A\"", "\"192.0.2.1\"", 10, 20, 1);
  }
  const std::string gz = slurp(file("whole.gz", in, true));
  const std::string cut = file("cut.gz", gz.substr(0, gz.size() / 2));
  BuildOptions o = options({cut}, "d");
  EXPECT_FALSE(build(o));
  EXPECT_NE(error_.find("input " + cut + " is damaged after line "), std::string::npos) << error_;
  EXPECT_FALSE(exists(o.rrname_out));
  o.skip_damaged = true;
  ASSERT_TRUE(build(o)) << error_;
  EXPECT_EQ(stats_.damaged_inputs, 1u);
  EXPECT_GT(stats_.records, 0u);
  EXPECT_EQ(lines_of(o.rrname_out).size(), stats_.records);
  EXPECT_NE(report().find("Warning: input " + cut + " is damaged after line " +
                          std::to_string(stats_.records) + ": unexpected end of file; "
                          "the lines before it are kept"),
            std::string::npos)
      << report();
}

TEST_F(BuildTest, ASmallBuildNeedsNoTemporaryDirectory) {
  BuildOptions o = options({file("one.json", cof("a.example.", "\"A\"", "\"192.0.2.1\"", 1, 2, 1))}, "one");
  o.tmpdir = dir_ + "/no-such-dir";
  ASSERT_TRUE(build(o)) << error_;
  EXPECT_EQ(stats_.runs, 0u);
  EXPECT_EQ(lines_of(o.rrname_out), std::vector<std::string>{"a.example\t4:1,1:1"});
}

TEST_F(BuildTest, FailuresLeaveNoIndexBehind) {
  const std::string good = file("good.json", cof("a.example.", "\"A\"", "\"192.0.2.1\"", 1, 2, 1));
  // A missing input stops the build even after good inputs were read.
  BuildOptions o = options({good, dir_ + "/missing.json"}, "x");
  EXPECT_FALSE(build(o));
  EXPECT_NE(error_.find("missing.json"), std::string::npos);
  EXPECT_FALSE(exists(o.rrname_out));
  // An empty input gives nothing to index.
  o = options({file("empty.json", "")}, "x");
  EXPECT_FALSE(build(o));
  EXPECT_NE(error_.find("no records"), std::string::npos);
  EXPECT_FALSE(exists(o.rrname_out) || exists(o.rdata_out));
  // Only owner names: the requested rdata index would be empty.
  o = options({file("names.txt", "a.example\t4:10:1\n")}, "x");
  EXPECT_FALSE(build(o));
  EXPECT_FALSE(exists(o.rrname_out) || exists(o.rdata_out));
  o.rdata_out.clear();
  EXPECT_TRUE(build(o)) << error_;
  // An existing output is refused and kept, unless replacing is asked for.
  const std::string before = slurp(o.rrname_out);
  std::ofstream(o.rrname_out, std::ios::binary) << "precious";
  o.inputs = {good};
  EXPECT_FALSE(build(o));
  EXPECT_NE(error_.find("exists"), std::string::npos);
  EXPECT_EQ(slurp(o.rrname_out), "precious");
  o.force = true;
  EXPECT_TRUE(build(o)) << error_;
  EXPECT_EQ(lines_of(o.rrname_out), std::vector<std::string>{"a.example\t4:1,1:1"});
  EXPECT_EQ(quarn::testing::count_dir_entries(tmp_), 0u);
  // A corrupt compressed input is a read error.
  std::string gz = slurp(file("c.gz", std::string(100000, 'x'), true));
  o = options({file("cut.gz", gz.substr(0, gz.size() / 2))}, "y");
  EXPECT_FALSE(build(o));
  EXPECT_FALSE(exists(o.rrname_out));
}

TEST_F(BuildTest, ASmallBudgetGivesTheSameFilesAsALargeOne) {
  // Enough distinct names and values that the writers' reference lists pass the
  // smallest list budget and are spilled.
  std::string in;
  uint32_t x = 12345;
  auto next = [&x] { return x = x * 1103515245u + 12345u; };
  for (int i = 0; i < 25000; ++i) {
    std::string label;
    for (int c = 0; c < 14; ++c) label.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[next() >> 27]);
    const std::string n = label + ".zone" + std::to_string(i % 97) + ".example.";
    const std::string a = "\"10." + std::to_string(i % 251) + "." + std::to_string(i / 251) + ".9\"";
    in += cof(n, "\"A\"", a, 1600000000 + i, 1600000000 + 2 * i, 1 + i % 5);
    if (i % 4 == 0) {
      in += cof(n, "\"CNAME\"", "\"" + label + ".cdn.example.\"", 1600000000, 1600000000 + i, 2);
    }
  }
  const std::string input = file("in.json", in);
  BuildOptions small = options({input}, "small");
  ASSERT_TRUE(build(small)) << error_;
  BuildOptions large = options({input}, "large");
  large.memory_budget = size_t{1} << 30;
  ASSERT_TRUE(build(large)) << error_;
  EXPECT_EQ(stats_.runs, 0u);  // one batch, kept in memory
  EXPECT_EQ(slurp(small.rrname_out), slurp(large.rrname_out));
  EXPECT_EQ(slurp(small.rdata_out), slurp(large.rdata_out));
  EXPECT_EQ(lines_of(small.rrname_out).size(), 25000u);
  BuildOptions m16 = options({input}, "m16");  // the smallest budget the process fits in
  m16.memory_budget = size_t{16} << 20;
  ASSERT_TRUE(build(m16)) << error_;
  EXPECT_EQ(slurp(m16.rrname_out), slurp(large.rrname_out));
  EXPECT_EQ(slurp(m16.rdata_out), slurp(large.rdata_out));
  EXPECT_EQ(quarn::testing::count_dir_entries(tmp_), 0u);
}

TEST(BuildBudget, EachPhaseLeavesRoomForItsFixedCosts) {
  constexpr size_t kMiB = size_t{1} << 20;
  for (const size_t m : {16 * kMiB, 24 * kMiB, 256 * kMiB, 64 * 1024 * kMiB}) {
    SCOPED_TRACE(m / kMiB);
    // Reading: the sort arena gets most of the budget, and never all of it.
    EXPECT_LT(sort_budget_of(m), m - 5 * kMiB);
    EXPECT_GT(sort_budget_of(m), m / 2);
    // Writing: every merged run's read buffer and the writer's tables come off the lists.
    for (const size_t runs : {size_t{1}, size_t{17}, kMaxFanIn}) {
      const size_t lists = list_budget_of(m, runs);
      EXPECT_LT(lists + runs * kSortabReadBuffer + index_writer_fixed_bytes(), m - 5 * kMiB);
      EXPECT_GE(lists, kMinListBudget);
      EXPECT_EQ(list_budget_of(m, runs - 1) - lists, kSortabReadBuffer);
    }
  }
  // Budgets too small for the reserves fall back to the phases' minimums.
  EXPECT_EQ(sort_budget_of(kMiB), kMinSortBudget);
  EXPECT_EQ(list_budget_of(kMiB, kMaxFanIn), kMinListBudget);
  EXPECT_EQ(list_budget_of(8 * kMiB, kMaxFanIn), kMinListBudget);
}

}  // namespace
}  // namespace quarn
