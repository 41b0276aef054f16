#include "support/e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "index/index_writer.h"
#include "retrieval/rdata_order.h"

extern char** environ;

namespace quarn::test {
namespace {

std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** p = environ; *p != nullptr; ++p) {
    if (std::strncmp(*p, "QUARN_LOGLEVEL=", 15) == 0) continue;
    env.emplace_back(*p);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (std::string& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Starts the program with standard input from stdin_fd and the two outputs into files.
pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& env, int stdin_fd, const std::string& out_path,
            const std::string& err_path) {
  std::vector<std::string> argv_s;
  argv_s.push_back(program);
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<std::string> env_s = child_environment(env);
  std::vector<char*> argv = c_strings(argv_s);
  std::vector<char*> envp = c_strings(env_s);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, stdin_fd, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    return -1;
  }
  return pid;
}

int wait_status(pid_t pid) {
  int st = 0;
  if (pid < 0 || waitpid(pid, &st, 0) < 0) return -1;
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

}  // namespace

void write_index(const std::string& path, const std::vector<std::string>& lines, bool rdata,
                 TimeFence fence, bool check_rdata_order) {
  IndexWriterOptions opt;
  opt.kind = rdata ? IndexKind::kRdata : IndexKind::kRrname;
  opt.timefence = fence.set;
  opt.earliest_seen = fence.earliest;
  opt.latest_seen = fence.latest;
  if (rdata && check_rdata_order) {
    opt.compare = [](std::string_view a, std::string_view b) { return rdata_line_compare(a, b); };
  }
  std::string error;
  auto w = IndexWriter::create(path, opt, &error);
  ASSERT_TRUE(w) << error;
  for (const std::string& l : lines) ASSERT_TRUE(w->add_line(l, &error)) << error << " at: " << l;
  ASSERT_TRUE(w->finish(&error)) << error;
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
  ASSERT_TRUE(f.good()) << path;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string quarnsearch_path() {
  const char* dir = std::getenv("QUARN_BIN_DIR");
  return std::string(dir != nullptr ? dir : "build/bin") + "/quarnsearch";
}

RunResult run_quarnsearch(const std::vector<std::string>& args, const std::string& stdin_text,
                          const std::vector<std::string>& env) {
  return run_program(quarnsearch_path(), args, stdin_text, env);
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_text, const std::vector<std::string>& env) {
  TempDir dir;
  const std::string in_path = dir.file("stdin");
  write_file(in_path, stdin_text);
  const int in_fd = open(in_path.c_str(), O_RDONLY);
  RunResult r;
  const pid_t pid = spawn(program, args, env, in_fd, dir.file("stdout"), dir.file("stderr"));
  close(in_fd);
  r.status = wait_status(pid);
  r.out = read_file(dir.file("stdout"));
  r.err = read_file(dir.file("stderr"));
  return r;
}

InteractiveRun::InteractiveRun(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  int fds[2];
  // Close-on-exec, so that the child does not inherit the write end and wait on itself.
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  pid_ = spawn(quarnsearch_path(), args, env, fds[0], dir_.file("stdout"), dir_.file("stderr"));
  close(fds[0]);
  stdin_fd_ = fds[1];
}

InteractiveRun::~InteractiveRun() {
  if (pid_ > 0) finish();
}

void InteractiveRun::send_line(const std::string& line) {
  const std::string l = line + "\n";
  ASSERT_EQ(write(stdin_fd_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
}

bool InteractiveRun::wait_for_err(const std::string& needle, int times, int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < until) {
    if (count_occurrences(err(), needle) >= times) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string InteractiveRun::err() const { return read_file(dir_.file("stderr")); }
std::string InteractiveRun::out() const { return read_file(dir_.file("stdout")); }

int InteractiveRun::finish() {
  if (stdin_fd_ >= 0) {
    close(stdin_fd_);
    stdin_fd_ = -1;
  }
  const int st = wait_status(pid_);
  pid_ = -1;
  return st;
}

int count_occurrences(const std::string& haystack, const std::string& needle) {
  if (needle.empty()) return 0;
  int n = 0;
  for (size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace quarn::test
