// tginspect as a program: options, usage, messages and exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "index/format.h"
#include "index/index_test_util.h"

namespace quarn {
namespace {

using index_test::TempDir;

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Runs tginspect with the arguments; stdout and stderr are captured separately.
ProgramRun tginspect(const TempDir& dir, const std::vector<std::string>& args) {
  const char* bin_dir = getenv("QUARN_BIN_DIR");
  const std::string bin = std::string(bin_dir ? bin_dir : "bin") + "/tginspect";
  const std::string out = dir.file("stdout"), err = dir.file("stderr");
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("tginspect"));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    setenv("TZ", "UTC", 1);
    execv(bin.c_str(), argv.data());
    _exit(127);
  }
  ProgramRun r;
  int ws = 0;
  waitpid(pid, &ws, 0);
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

const char kUsage[] =
    "\nUsage: tginspect <-l tgdb> [-L str_line] [-O ordno] [-v[v]...]\n"
    "-l  specifies the file of the mandatory trigram index to be loaded.\n"
    "-L  dumps the string content located at the specified line index #.\n"
    "-O  dumps only partial trigram index information associated with the specified ordinal "
    "(or trigram) value.\n"
    "-V  results in the display of auxiliary trigram index statistics.\n"
    "-v  can be specified multiple times and increases output verbosity.\n\n";

class TginspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "h" + std::to_string(100 + i) + ".abc.com\t4:1\n";
    path_ = index_test::write_index(dir_, text);
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(TginspectTest, UsageAndOptionErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"-x", "-l", "f"}, {"-l"}, {"-v"}, {"-l", "f", "-L", "3", "extra"}}) {
    ProgramRun r = tginspect(dir_, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(kUsage), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  ProgramRun r = tginspect(dir_, {"-l", path_, "-L", "12x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid string index specified: 12x\n");
  r = tginspect(dir_, {"-l", path_, "-L", "5", "-O", "abc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: -L and -O cannot be used together.\n");
  r = tginspect(dir_, {"-l", path_, "-O", "68921"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: trigram ordinal 68921 is out of range (0 to 68920).\n");
  r = tginspect(dir_, {"-l", dir_.file("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Loading trigram index...\nError: could not deserialize trigram index from file: " +
                       dir_.file("missing") + "\n");
  // Arguments without -L are ignored.
  EXPECT_EQ(tginspect(dir_, {"-l", path_, "-O", "abc", "stray"}).status, 0);
}

TEST_F(TginspectTest, OrdinalByNumberOrText) {
  const ProgramRun by_number = tginspect(dir_, {"-l", path_, "-O", "3403", "-vv"});
  EXPECT_EQ(by_number.status, 0);
  EXPECT_EQ(by_number.err, "Loading trigram index...\nExiting.\n");
  EXPECT_NE(by_number.out.find("Flags = [unified, real_ref] (0x6000)\n"), std::string::npos);
  EXPECT_NE(by_number.out.find("03403 abc: 2 *   | *0-39 | total = 40\n"), std::string::npos)
      << by_number.out;
  EXPECT_EQ(tginspect(dir_, {"-l", path_, "-O", "abc", "-vv"}).out, by_number.out);
  EXPECT_EQ(tginspect(dir_, {"-l", path_, "-O", "AbC", "-vv"}).out, by_number.out);
  // Ordinal 0 only by text; a numeric 0 is read as the text "0" (then '@@').
  EXPECT_NE(tginspect(dir_, {"-l", path_, "-O", "aaa", "-v"}).out.find("00000 aaa: 0 *   | total = 0\n"),
            std::string::npos);
  EXPECT_NE(tginspect(dir_, {"-l", path_, "-O", "0", "-v"}).out.find("68906 0@@: 0 *"), std::string::npos);
  // A short text pads with '@'; verbosity 0 skips an empty trigram entirely.
  EXPECT_EQ(tginspect(dir_, {"-l", path_, "-O", "ab"}).out,
            "Storage space requirements: 0 bytes (0MB) / 0 entries\n");
}

TEST_F(TginspectTest, LineOption) {
  ProgramRun r = tginspect(dir_, {"-l", path_, "-L", "0x10"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[h116.abc.com\t4:1]\n");
  EXPECT_EQ(r.err.rfind("Loading trigram index...\nString contents at index 16: 0x", 0), 0u) << r.err;
  EXPECT_EQ(tginspect(dir_, {"-l", path_, "-L", "010"}).out, "[h108.abc.com\t4:1]\n");  // octal
  r = tginspect(dir_, {"-l", path_, "-L", "5", "-O", "-1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[h105.abc.com\t4:1]\n");
  r = tginspect(dir_, {"-l", path_, "-L", "40"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Loading trigram index...\nError: could not retrieve line number contents.\nExiting.\n");
  // -L 0 is the same as no -L: the dump runs.
  r = tginspect(dir_, {"-l", path_, "-L", "0"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("03403 abc: 2 * \n"), std::string::npos);
  // -V wins over -L.
  r = tginspect(dir_, {"-l", path_, "-L", "3", "-V"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Reference gap count [0]:"), std::string::npos);
}

TEST_F(TginspectTest, FullDumpAndStructuralErrorStatus) {
  ProgramRun r = tginspect(dir_, {"-l", path_});
  EXPECT_EQ(r.status, 0);
  size_t lines = 0;
  for (char c : r.out) lines += c == '\n';
  EXPECT_GT(lines, 20u);
  EXPECT_NE(r.out.find("Storage space requirements: "), std::string::npos);
  index_test::patch_list(path_, 3403, {3, REF_START | 5});
  r = tginspect(dir_, {"-l", path_, "-v"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error in trigram database: list of trigram 3403 ends with a range start"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("Exiting."), std::string::npos);
}

}  // namespace
}  // namespace quarn
