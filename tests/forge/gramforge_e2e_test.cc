// Drives the gramforge program: command line, exit status, and the round trip through
// the search program's raw output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class GramforgeE2E : public testing::Test {
 protected:
  void SetUp() override {
    const char* bin = getenv("QUARN_BIN_DIR");
    bin_ = bin != nullptr ? bin : "build/bin";
    dir_ = std::string(testing::TempDir()) + "/gfe2e-" + std::to_string(getpid()) + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir_.c_str(), 0700);
  }
  void TearDown() override { EXPECT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0); }

  // Runs a shell command; returns the exit status and captures standard output and error.
  int run(const std::string& cmd) {
    const std::string full = "cd '" + dir_ + "' && " + cmd + " >out.txt 2>err.txt";
    const int st = system(full.c_str());
    out_ = slurp(dir_ + "/out.txt");
    err_ = slurp(dir_ + "/err.txt");
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  std::string gf() const { return "'" + bin_ + "/gramforge'"; }
  static std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  void put(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
  }
  bool exists(const std::string& name) const {
    struct stat st;
    return stat((dir_ + "/" + name).c_str(), &st) == 0;
  }

  std::string bin_, dir_, out_, err_;
};

std::string observations(int n) {
  std::string s;
  char line[512];
  for (int i = 0; i < n; ++i) {
    const unsigned t = 1600000000u + static_cast<unsigned>(i) * 37u;
    const int h = i % 97, z = i % 11;
    snprintf(line, sizeof line,
             "{\"rrname\":\"host%d.zone%d.example.\",\"rrtype\":\"A\",\"rdata\":\"10.%d.%d.%d\","
             "\"time_first\":%u,\"time_last\":%u,\"count\":%d}\n",
             h, z, z, h, i % 5, t, t + 3600u * static_cast<unsigned>(i % 4), 1 + i % 9);
    s += line;
    if (i % 5 == 0) {
      snprintf(line, sizeof line,
               "{\"rrname\":\"zone%d.example.\",\"rrtype\":\"MX\",\"rdata\":[\"10 Mx%d.zone%d.example.\","
               "\"20 backup.example.\"],\"time_first\":%u,\"time_last\":%u,\"count\":2}\n",
               z, i % 3, z, t, t + 60u);
      s += line;
    }
    if (i % 7 == 0) {
      snprintf(line, sizeof line,
               "{\"rrname\":\"zone%d.example.\",\"rrtype\":\"SOA\",\"rdata\":\"ns%d.example. "
               "hostmaster.zone%d.example. %d 3600 600 86400 300\",\"time_first\":%u,"
               "\"time_last\":%u}\n",
               z, i % 2, z, i, t, t);
      s += line;
    }
    if (i % 13 == 0) {
      snprintf(line, sizeof line,
               "{\"rrname\":\"host%d.zone%d.example.\",\"rrtype\":28,\"rdata\":\"2001:db8::%x\","
               "\"time_first\":%u,\"time_last\":%u,\"count\":1}\n"
               "{\"rrname\":\"zone%d.example.\",\"rrtype\":\"TXT\",\"rdata\":\"\\\"v=spf1 ip4:10.%d.0.0/16 -all\\\"\","
               "\"time_first\":%u,\"time_last\":%u,\"count\":4}\n",
               h, z, i, t, t + 10u, z, z, t, t + 99u);
      s += line;
    }
  }
  return s;
}

TEST_F(GramforgeE2E, HelpUsageAndExitStatus) {
  EXPECT_EQ(run(gf() + " --help"), 0);
  EXPECT_NE(out_.find("Usage: gramforge"), std::string::npos);
  EXPECT_NE(out_.find("--rrname"), std::string::npos);
  EXPECT_EQ(run(gf() + " --bogus"), 1);
  EXPECT_EQ(run(gf() + " -m 0 -o x.idx"), 1);
  EXPECT_NE(err_.find("invalid memory budget"), std::string::npos);
  for (const char* threads : {"0", "2x", "257"}) {
    EXPECT_EQ(run(gf() + " --threads " + threads + " -o x.idx in.json"), 1);
    EXPECT_NE(err_.find("Error: invalid thread count: "), std::string::npos);
  }
  EXPECT_EQ(run(gf() + " in.json"), 1);
  EXPECT_NE(err_.find("no output requested"), std::string::npos);
  // -f and -s would mean a fileset and a search to quarnsearch: long options only.
  EXPECT_EQ(run(gf() + " -f -o x.idx in.json"), 1);
  EXPECT_EQ(run(gf() + " -s -o x.idx in.json"), 1);
}

TEST_F(GramforgeE2E, StandardInputStrictModeAndExistingOutputs) {
  put("in.json", observations(50) + "{\"rrname\":\"broken\"\n");
  EXPECT_EQ(run("gzip -c in.json | " + gf() + " -o n.idx -d d.idx"), 0) << err_;
  EXPECT_NE(err_.find("Warning: -:"), std::string::npos) << err_;
  EXPECT_NE(err_.find("1 malformed lines skipped"), std::string::npos) << err_;
  EXPECT_EQ(err_.find("(0 bytes)"), std::string::npos) << err_;  // a pipe is counted too
  EXPECT_TRUE(exists("n.idx") && exists("d.idx"));
  // Outputs exist now: refused without --force, whatever else happens.
  EXPECT_EQ(run(gf() + " -q -o n.idx -d d.idx in.json"), 1);
  EXPECT_NE(err_.find("output file exists"), std::string::npos);
  EXPECT_EQ(run(gf() + " -q --strict --force -o n2.idx -d d2.idx in.json"), 1);
  EXPECT_NE(err_.find("in.json:"), std::string::npos) << err_;
  EXPECT_FALSE(exists("n2.idx") || exists("d2.idx"));
  EXPECT_EQ(run(gf() + " -q -o n3.idx nonexistent.json"), 1);
  EXPECT_NE(err_.find("nonexistent.json"), std::string::npos);
  EXPECT_FALSE(exists("n3.idx"));
}

TEST_F(GramforgeE2E, OutputFaultsFailCleanly) {
  put("in.json", observations(20));
  EXPECT_EQ(run(gf() + " -q -o a.idx -d ./a.idx in.json"), 1);
  EXPECT_NE(err_.find("the two outputs are the same file"), std::string::npos) << err_;
  ASSERT_EQ(run(gf() + " -q -d d.idx in.json && cp d.idx d.old && mkdir dir"), 0) << err_;
  EXPECT_EQ(run(gf() + " -q --force -o dir -d d.idx in.json"), 1);
  EXPECT_NE(err_.find("Error: output is a directory: dir"), std::string::npos) << err_;
  EXPECT_EQ(slurp(dir_ + "/d.idx"), slurp(dir_ + "/d.old"));
  EXPECT_EQ(run(gf() + " -q -m 1073741824 -o m.idx in.json"), 1);
  EXPECT_NE(err_.find("Error: not enough memory"), std::string::npos) << err_;
  EXPECT_EQ(run(gf() + " -q -o dir/sub/n.idx in.json"), 1);
  EXPECT_EQ(err_.rfind("Error: could not create dir/sub/n.idx", 0), 0u) << err_;
  EXPECT_EQ(run("ls | sort | tr '\\n' ' '"), 0);
  EXPECT_EQ(out_, "d.idx d.old dir err.txt in.json out.txt ");
}

TEST_F(GramforgeE2E, CompressedInputsDamageAndRejects) {
  const std::string good = observations(2000);
  put("in.json", good + "{\"rrname\":\"broken\"\n");
  ASSERT_EQ(run("zstd -q in.json -o in.zst && xz -k in.json && "
                "n=$(stat -c %s in.json.xz) && head -c $((n / 2)) in.json.xz >cut.xz && test -s cut.xz"),
            0);
  ASSERT_EQ(run(gf() + " -o a.idx -d b.idx --rejects bad.tsv in.zst in.json.xz"), 0) << err_;
  EXPECT_NE(err_.find("from 2 inputs (0 damaged)"), std::string::npos) << err_;
  const std::string bad = "\t" + std::to_string(std::count(good.begin(), good.end(), '\n') + 1) +
                          "\tnot a valid JSON object\t{\"rrname\":\"broken\"\n";
  EXPECT_EQ(slurp(dir_ + "/bad.tsv"), "in.zst" + bad + "in.json.xz" + bad);
  EXPECT_EQ(run(gf() + " -q -o c.idx cut.xz"), 1);
  EXPECT_EQ(err_.rfind("Error: input cut.xz is damaged after line ", 0), 0u) << err_;
  EXPECT_FALSE(exists("c.idx"));
  EXPECT_EQ(run(gf() + " --skip-damaged -o c.idx cut.xz"), 0) << err_;
  EXPECT_NE(err_.find("from 1 inputs (1 damaged)"), std::string::npos) << err_;
}

TEST_F(GramforgeE2E, InterruptedBuildLeavesNothingBehind) {
  put("in.json", observations(60000));
  mkdir((dir_ + "/tmp").c_str(), 0700);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    const std::string gfp = bin_ + "/gramforge", in = dir_ + "/in.json";
    const std::string rr = dir_ + "/i-names.idx", rd = dir_ + "/i-rdata.idx";
    // Read the input several times over so that the build is still running when the
    // signal comes.
    execl(gfp.c_str(), gfp.c_str(), "-q", "-m", "1", "-o", rr.c_str(), "-d", rd.c_str(),
          in.c_str(), in.c_str(), in.c_str(), in.c_str(), in.c_str(), in.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait for the first sorted run to appear, then interrupt.
  bool spilled = false;
  for (int i = 0; i < 2000 && !spilled; ++i) {
    usleep(5000);
    spilled = system(("ls '" + dir_ + "/tmp' | grep -q run").c_str()) == 0;
  }
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(spilled);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the build ended before the signal";
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(run("ls tmp | wc -l"), 0);
  EXPECT_EQ(out_, "0\n");
  EXPECT_FALSE(exists("i-names.idx") || exists("i-rdata.idx"));
}

TEST_F(GramforgeE2E, RoundTripThroughRawSearchOutput) {
  const std::string qs = bin_ + "/quarnsearch";
  if (access(qs.c_str(), X_OK) != 0) GTEST_SKIP() << "quarnsearch is not built: " << qs;
  put("in.json", observations(3000));
  ASSERT_EQ(run(gf() + " -q -m 1 -o a-names.idx -d a-rdata.idx in.json"), 0) << err_;
  const std::string search = "'" + qs + "' -r -L 100000000 -s .";
  ASSERT_EQ(run(search + " -l a-names.idx > names.txt 2>/dev/null; " + search +
                " -l a-rdata.idx > rdata.txt 2>/dev/null; cat names.txt rdata.txt"),
            0);
  ASSERT_FALSE(out_.empty());
  ASSERT_EQ(run(gf() + " -q -F raw -o b-names.idx -d b-rdata.idx names.txt rdata.txt"), 0) << err_;
  EXPECT_EQ(slurp(dir_ + "/a-names.idx"), slurp(dir_ + "/b-names.idx"));
  EXPECT_EQ(slurp(dir_ + "/a-rdata.idx"), slurp(dir_ + "/b-rdata.idx"));
}

// Inputs are told apart by content, but looking at a pipe's first bytes would eat them;
// -F tgdb takes every input as an index and refuses standard input.
TEST_F(GramforgeE2E, InputKindsByContentAndPipesStayWhole) {
  put("in.json", observations(200));
  ASSERT_EQ(run(gf() + " -q -o a.idx -d a-d.idx in.json"), 0) << err_;
  ASSERT_EQ(run("mkfifo pipe && (cat in.json > pipe &) && " + gf() + " -q -o b.idx pipe"), 0)
      << err_;
  EXPECT_EQ(slurp(dir_ + "/a.idx"), slurp(dir_ + "/b.idx"));
  EXPECT_EQ(run(gf() + " -q -F tgdb -o c.idx a.idx in.json"), 1);
  EXPECT_NE(err_.find("Error: input in.json is not a readable index file"), std::string::npos)
      << err_;
  EXPECT_EQ(run(gf() + " -q -F tgdb -o c.idx < a.idx"), 1);
  EXPECT_NE(err_.find("standard input cannot be an index file"), std::string::npos) << err_;
  EXPECT_EQ(run(gf() + " -q --replace -o c.idx a.idx"), 1);
  EXPECT_NE(err_.find("--replace needs --set"), std::string::npos) << err_;
  EXPECT_EQ(run(gf() + " -q --keep-after 2025-01-01 --keep-before 2024-01-01 -o c.idx a.idx"), 1);
  EXPECT_NE(err_.find("retention window is empty"), std::string::npos) << err_;
  EXPECT_FALSE(exists("c.idx"));
}

}  // namespace
