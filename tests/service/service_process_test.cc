// The real quarnbackendd program: start-up refusals and a SIGTERM that drains.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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
  EXPECT_NE(read_file(err).find("Error: at least one of --rrnames, --rdata or --records is required"), std::string::npos);
  EXPECT_EQ(run({"--rdata", names}, err), 1);
  EXPECT_NE(read_file(err).find("holds rrname indexes, not rdata"), std::string::npos);
  EXPECT_EQ(run({"--rrnames", names, "--workers", "x"}, err), 1);
  EXPECT_EQ(run({"--rrnames", dir.file("missing")}, err), 1);
}

// Port the program reports in its "Listening on HOST:PORT" line, or 0.
int listening_port(const std::string& log) {
  const size_t at = log.find("Listening on 127.0.0.1:");
  return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + 23);
}

// The whole answer to a request on a fresh connection, read until the server closes it.
std::string fetch(int port, const std::string& target, const std::string& headers,
                  void (*while_reading)(pid_t), pid_t pid) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  const std::string req = "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" +
                          headers + "\r\n";
  EXPECT_EQ(write(fd, req.data(), req.size()), static_cast<ssize_t>(req.size()));
  std::string got;
  char buf[65536];
  ssize_t n = read(fd, buf, 4096);  // the answer has begun: the search is running
  if (n > 0) got.append(buf, static_cast<size_t>(n));
  if (while_reading) while_reading(pid);
  while ((n = read(fd, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  close(fd);
  return got;
}

TEST(ServiceProgram, SigtermDrainsAndExitsZero) {
  TempDir dir;
  const std::string names = dir.file("n.tgdb"), err = dir.file("err"), keys = dir.file("keys");
  std::vector<std::string> lines;
  for (int i = 0; i < 40000; ++i) lines.push_back("h" + std::to_string(100000 + i) + ".example.com\t4:5e0be100,0:1");
  write_index(names, lines, false);
  write_file(keys, "alice:s3cret\n");
  pid_t pid = 0;
  run({"--rrnames", names, "--port", "0", "--grace", "1", "--keys", keys}, err, &pid);
  bool listening = false;
  for (int i = 0; i < 100 && !listening; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    listening = read_file(err).find("Listening on") != std::string::npos;
  }
  ASSERT_TRUE(listening) << read_file(err);
  kill(pid, SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // SIGTERM while a broad search streams: the answer still ends in a fin line.
  const std::string answer = fetch(listening_port(read_file(err)),
      "/v1/search?search_method=regex&search_what=rrnames&return_what=details&rrtype=any&limit=100000&value=.",
      "Authorization: Bearer s3cret\r\n", [](pid_t p) { kill(p, SIGTERM); }, pid);
  EXPECT_TRUE(answer.find("{\"fin\":200,\"msg\":\"OK\"}") != std::string::npos ||
              answer.find("{\"fin\":500,\"msg\":\"server shutting down\"}") != std::string::npos)
      << answer.substr(answer.size() > 300 ? answer.size() - 300 : 0);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string log = read_file(err);
  EXPECT_NE(log.find("SIGHUP: re-reading set files and keys"), std::string::npos) << log;
  EXPECT_NE(log.find("Exiting..."), std::string::npos) << log;
  // The access log names the key, never the key itself.
  EXPECT_NE(log.find("GET /v1/search rrnames regex details [.] fin="), std::string::npos) << log;
  EXPECT_NE(log.find("key=alice"), std::string::npos) << log;
  EXPECT_EQ(log.find("s3cret"), std::string::npos) << log;
}

}  // namespace
}  // namespace quarn::test
