// The service under concurrent use: many clients at once get exactly the single-client
// answers, a set file rewritten under searching clients never yields a failed or mixed
// answer, a full queue answers 503 at once, and a client that goes away frees its
// worker. Labelled "concurrent" so that the ThreadSanitizer stage runs these.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>

#include "service/service_fixture.h"

namespace quarn::test {
namespace {

const char* const kExprs[] = {"z1\\.ex", "^h2[0-9]\\.", "h(3|4)0", "9\\.z"};

std::string joined(const Answer& a) {
  std::string s;
  for (const auto& l : a.lines) s += l + "\n";
  return s + a.fin;
}

TEST(ServiceLoad, SixteenClientsGetTheSingleAnswers) {
  TempDir dir;
  const std::string index = dir.file("n.tgdb");
  write_entries(index, make_entries(2000));
  ServiceOptions o;
  o.workers = 2;
  RunningService svc(o, index);
  std::vector<std::string> single;
  for (const char* e : kExprs) single.push_back(joined(split_answer(svc.client()->Get(search_url(e)))));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 16; ++t) {
    clients.emplace_back([&, t] {
      auto c = svc.client();
      for (int i = 0; i < 8; ++i) {
        const size_t k = static_cast<size_t>(t + i) % 4;
        if (joined(split_answer(c->Get(search_url(kExprs[k])))) != single[k]) ++mismatches;
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST(ServiceLoad, SetFileRewrittenWhileClientsSearch) {
  TempDir dir;
  const std::string a = dir.file("a.tgdb"), b = dir.file("b.tgdb"), set = dir.file("names.set");
  write_entries(a, make_entries(1500, 0));
  write_entries(b, make_entries(1500, 7));  // same names, other times
  write_file(set, "a.tgdb\n");
  ServiceOptions o;
  o.workers = 2;
  RunningService svc(o, set);
  const std::string url = search_url("z2\\.ex");
  const std::string old_answer = joined(split_answer(svc.client()->Get(url)));
  write_file(set, "b.tgdb\n");
  svc.service().reload();
  const std::string new_answer = joined(split_answer(svc.client()->Get(url)));
  ASSERT_NE(old_answer, new_answer);

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, served{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 8; ++t) {
    clients.emplace_back([&] {
      auto c = svc.client();
      while (!stop) {
        const std::string got = joined(split_answer(c->Get(url)));
        if (got != old_answer && got != new_answer) ++bad;
        ++served;
      }
    });
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
    write_file(set, i % 2 ? "b.tgdb\n" : "a.tgdb\n");
    svc.service().reload();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  stop = true;
  for (auto& c : clients) c.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(served.load(), 8);
}

// Sends a raw request and returns the connected socket (the caller closes it).
int send_raw(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  if (!request.empty()) {
    EXPECT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  }
  return fd;
}

TEST(ServiceLoad, FullQueueAndGoneClients) {
  TempDir dir;
  const std::string index = dir.file("n.tgdb");
  // More answer than the loopback buffers hold, so the search waits on its reader.
  write_entries(index, make_entries(150000));
  ServiceOptions o;
  o.workers = 1;
  o.queue = 0;
  o.max_limit = 10000000;
  RunningService svc(o, index);
  // A broad search whose client reads nothing and then leaves: its writes fail, or the
  // probe sees the hang-up, and the worker is free again.
  const std::string req = "GET " + search_url(".") + " HTTP/1.1\r\nHost: x\r\n\r\n";
  int fd = send_raw(svc.port(), req);
  for (int i = 0; i < 300 && svc.service().gate().running() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(svc.service().gate().running(), 1u);
  // Meanwhile the only worker is busy and nobody may wait (queue 0): 503.
  auto busy = svc.client()->Get(search_url("h1\\."));
  ASSERT_TRUE(busy);
  EXPECT_EQ(busy->status, 503);
  EXPECT_EQ(busy->get_header_value("Retry-After"), "1");
  EXPECT_EQ(split_answer(busy).fin, fin_line(500, "server busy"));
  close(fd);
  bool freed = false;
  for (int i = 0; i < 50 && !freed; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    freed = svc.service().gate().running() == 0;
  }
  EXPECT_TRUE(freed);
  EXPECT_EQ(split_answer(svc.client()->Get(search_url("h1\\.z1\\."))).fin, fin_line(200, "OK"));
}

TEST(ServiceLoad, ConnectionsPastTheBacklogGet503) {
  TempDir dir;
  const std::string index = dir.file("n.tgdb");
  write_entries(index, make_entries(100));
  ServiceOptions o;
  o.connections = 1;  // one thread serving, one connection waiting
  o.io_timeout = 2;
  RunningService svc(o, index);
  const int serving = send_raw(svc.port(), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const int waiting = send_raw(svc.port(), "");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto r = svc.client()->Get(search_url("h1\\."));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 503);
  EXPECT_EQ(split_answer(r).fin, fin_line(500, "server busy"));
  close(serving);
  close(waiting);
}

TEST(ServiceLoad, SlowClientHoldsNoWorker) {
  TempDir dir;
  const std::string index = dir.file("n.tgdb");
  write_entries(index, make_entries(500));
  ServiceOptions o;
  o.workers = 1;
  o.io_timeout = 1;
  RunningService svc(o, index);
  // One byte every 300 ms: the request never completes within the read timeout's
  // patience per byte, but other clients are served meanwhile.
  const std::string req = "GET " + search_url("h1\\.") + " HTTP/1.1\r\nHost: x\r\n\r\n";
  int fd = send_raw(svc.port(), "");
  std::thread slow([&] {
    for (size_t i = 0; i < 8; ++i) {
      if (write(fd, &req[i], 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  });
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(split_answer(svc.client()->Get(search_url("h1\\.z1\\."))).fin, fin_line(200, "OK"));
  slow.join();
  close(fd);
}

}  // namespace
}  // namespace quarn::test
