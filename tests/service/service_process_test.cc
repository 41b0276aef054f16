// The real quarnbackendd program: start-up refusals and a SIGTERM that drains.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/e2e_support.h"

namespace quarn::test {
namespace {

std::string program() { return std::string(std::getenv("QUARN_BIN_DIR")) + "/quarnbackendd"; }

// Runs the program with args, waiting for it; standard error goes to err_path.
int run(const std::vector<std::string>& args, const std::string& err_path, pid_t* child = nullptr) {
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(err_path.c_str(), "w", stderr);
    freopen("/dev/null", "w", stdout);
    std::vector<char*> argv;
    std::string p = program();
    argv.push_back(p.data());
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(p.c_str(), argv.data());
    _exit(127);
  }
  if (child != nullptr) {
    *child = pid;
    return 0;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ServiceProgram, RefusesBadStarts) {
  TempDir dir;
  const std::string names = dir.file("n.tgdb"), data = dir.file("d.tgdb"), err = dir.file("err");
  write_index(names, {"a.example.com\t4:5e0be100,0:1"}, false);
  EXPECT_EQ(run({"--help"}, err), 0);
  EXPECT_EQ(run({}, err), 1);
  EXPECT_NE(read_file(err).find("Error: at least one of --rrnames or --rdata is required"), std::string::npos);
  EXPECT_EQ(run({"--rdata", names}, err), 1);
  EXPECT_NE(read_file(err).find("holds rrname indexes, not rdata"), std::string::npos);
  EXPECT_EQ(run({"--rrnames", names, "--workers", "x"}, err), 1);
  EXPECT_EQ(run({"--rrnames", dir.file("missing")}, err), 1);
}

TEST(ServiceProgram, SigtermDrainsAndExitsZero) {
  TempDir dir;
  const std::string names = dir.file("n.tgdb"), err = dir.file("err");
  write_index(names, {"a.example.com\t4:5e0be100,0:1"}, false);
  pid_t pid = 0;
  run({"--rrnames", names, "--port", "0", "--grace", "1"}, err, &pid);
  bool listening = false;
  for (int i = 0; i < 100 && !listening; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    listening = read_file(err).find("Listening on") != std::string::npos;
  }
  ASSERT_TRUE(listening) << read_file(err);
  kill(pid, SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string log = read_file(err);
  EXPECT_NE(log.find("SIGHUP: re-reading set files and keys"), std::string::npos) << log;
  EXPECT_NE(log.find("Exiting..."), std::string::npos) << log;
}

}  // namespace
}  // namespace quarn::test
