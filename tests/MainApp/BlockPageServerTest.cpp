#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "MainApp/BlockPageServer.h"
#include "Platform/Linux/PortOwner.h"
#include "Platform/Linux/UvNetwork.h"
#include "Support/FakeNetwork.h"
#include "Support/FakeRunLoop.h"
#include "Support/LogCapture.h"
#include "Support/LoopbackClient.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using testing::LogCapture;
using testing::LoopbackClient;
using testing::LoopbackOrigin;
using testing::runLoopUntil;
using ::testing::Value;

constexpr const char* kPageAnswer =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 14\r\n"
    "Connection: close\r\nCache-Control: no-store\r\n\r\n";

class BlockPageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = makeServer();
    ASSERT_TRUE(server_->start(0).ok());
  }

  std::unique_ptr<BlockPageServer> makeServer() {
    return std::make_unique<BlockPageServer>(
        loop_, network_, [this](const std::string& method, const std::string& target) {
          asked_.push_back(method + " " + target);
          return HttpAnswer{200, "text/html; charset=utf-8", "<p>blocked</p>"};
        });
  }

  std::string exchange(const std::string& request, const std::string& ip = "127.0.0.1") {
    LoopbackClient client(network_, server_->port(), request, ip);
    EXPECT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
    return client.received;
  }
  std::string hostField() const { return "Host: localhost:" + std::to_string(server_->port()); }

  UvRunLoop loop_;
  UvNetwork network_{loop_};
  std::unique_ptr<BlockPageServer> server_;
  std::vector<std::string> asked_;
};

// The name PortOwner gives this test process.
std::string thisProcess() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name + " (pid " + std::to_string(::getpid()) + ")";
}

// Each request is answered once and its connection closed: the page for the server's own name,
// its head alone for HEAD (asked for as a GET), 421 for any other host, its status for a fault.
TEST_F(BlockPageServerTest, AnswersEachRequestOnceWithItsStatusAndCloses) {
  struct Case {
    std::string request;
    std::string answer;  // the whole answer when `whole`, else its start
    bool whole = false;
  };
  const std::string host = hostField() + "\r\n";
  const std::vector<Case> cases = {
      {"GET /block/?zelto_url=a HTTP/1.1\r\n" + host + "\r\n",
       std::string(kPageAnswer) + "<p>blocked</p>", true},
      {"HEAD /block/?zelto_url=a HTTP/1.1\r\n" + host + "\r\n", kPageAnswer, true},
      {"GET /proxy.pac HTTP/1.1\r\n\r\n", "HTTP/1.1 421 "},
      {"GET /proxy.pac HTTP/1.1\r\nHost: evil.example:" + std::to_string(server_->port()) +
           "\r\n\r\n",
       "HTTP/1.1 421 "},
      {"GET /proxy.pac HTTP/1.1\r\n" + host + host + "\r\n", "HTTP/1.1 421 "},
      {"GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
      {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 414 URI Too Long\r\n"},
      {"GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", "HTTP/1.1 431 "},
      {"GET / HTTP/3.0\r\n\r\n", "HTTP/1.1 505 "},
  };
  for (const Case& c : cases) {
    const std::string answer = exchange(c.request);
    EXPECT_EQ(c.whole ? answer : answer.substr(0, c.answer.size()), c.answer)
        << c.request.substr(0, 80);
  }
  // A HEAD refused carries no body either.
  const std::string refused = exchange("HEAD / HTTP/1.1\r\nHost: rebound.example\r\n\r\n");
  EXPECT_EQ(refused.rfind("HTTP/1.1 421 ", 0), 0u);
  EXPECT_TRUE(refused.ends_with("\r\n\r\n")) << refused;
  EXPECT_EQ(asked_, std::vector<std::string>(2, "GET /block/?zelto_url=a"));
  // ::1 as well, where the machine has it.
  LoopbackClient v6(
      network_, server_->port(),
      "GET /proxy.pac HTTP/1.1\r\nHost: [::1]:" + std::to_string(server_->port()) + "\r\n\r\n",
      "::1");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return v6.ended; }));
  if (v6.connected) {
    EXPECT_EQ(v6.received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  }
  EXPECT_TRUE(runLoopUntil(loop_, [&] { return server_->connectionCount() == 0; }));
}

TEST(BlockPageServerHostTest, ServesLoopbackNamesAtItsPortOnly) {
  auto served = [](const std::vector<std::string>& hosts) {
    HttpRequestHead head;
    head.headers.emplace_back("Accept", "*/*");
    for (const std::string& host : hosts) head.headers.emplace_back("host", host);
    return BlockPageServer::namesThisServer(head, 8921);
  };
  for (const char* host :
       {"localhost", "LocalHost:8921", "127.0.0.1:8921", "127.0.0.1", "[::1]", "[::1]:8921"}) {
    EXPECT_TRUE(served({host})) << host;
  }
  for (const char* host :
       {"localhost:8922", "localhost:08921", "localhost:", "localhost:8921x", "localhost.",
        "evil.example", "evil.example:8921", "localhost.evil.example", "127.0.0.1.evil.example",
        "127.0.0.2", "::1", "[::1", "[::1]8921", ""}) {
    EXPECT_FALSE(served({host})) << host;
  }
  EXPECT_FALSE(served({}));
  EXPECT_FALSE(served({"localhost", "localhost"}));
}

TEST_F(BlockPageServerTest, KeepsTryingAHeldPortAndNamesItsHolderOnce) {
  LogCapture log;
  auto held = std::make_unique<LoopbackOrigin>(network_, nullptr);  // a listener of the test's
  const int port = held->port();
  ASSERT_NE(port, 0);
  auto server = makeServer();
  EXPECT_FALSE(server->start(port).ok());
  EXPECT_EQ(server->port(), 0);
  // One more failed try before the port is let go: the holder is still named only once.
  ASSERT_TRUE(runLoopUntil(
      loop_, [&] { return Value(log.texts(), Contains(HasSubstr("still can't listen"))); }, 5));
  EXPECT_THAT(log.texts(), Contains(HasSubstr("is held by " + thisProcess())).Times(1));
  held.reset();
  ASSERT_TRUE(runLoopUntil(
      loop_, [&] { return server->port() == port; }, 5));
  LoopbackClient client(network_, port, "GET /proxy.pac HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
  EXPECT_EQ(client.received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
}

TEST_F(BlockPageServerTest, PortOwnerNamesTheListeningProcess) {
  auto v4 = std::make_unique<LoopbackOrigin>(network_, nullptr);
  const int released = v4->port();
  ASSERT_NE(released, 0);
  EXPECT_EQ(PortOwner::describe(released), thisProcess());
  if (LoopbackOrigin v6(network_, nullptr, "::1"); v6.port() != 0) {  // where the machine has ::1
    EXPECT_EQ(PortOwner::describe(v6.port()), thisProcess());
  }
  v4.reset();  // closed once the loop runs
  EXPECT_TRUE(
      runLoopUntil(loop_, [&] { return PortOwner::describe(released) == PortOwner::kUnknown; }));
}

// On simulated time: a head that doesn't come whole is closed at the limit and not before, and
// at the cap a new connection waits until one closes.
TEST(BlockPageServerTimeTest, SlowHeadsCloseAtTheLimitAndConnectionsWaitAtTheCap) {
  FakeClock clock;
  FakeRunLoop loop(clock);
  testing::FakeNetwork network(loop);
  BlockPageServer server(loop, network, [](const std::string&, const std::string&) {
    return HttpAnswer{200, "text/plain", "ok"};
  });
  server.setMaxConnections(1);
  ASSERT_TRUE(server.start(0).ok());
  LoopbackClient slow(network, server.port(), "GET /block/ HTTP/1.1\r\nHost: local");
  LoopbackClient waiting(network, server.port(), "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
  loop.advance(BlockPageServer::kHeadTimeoutSeconds - 1);
  EXPECT_FALSE(slow.ended || waiting.ended);
  EXPECT_EQ(server.connectionCount(), 1u);
  loop.advance(2);
  loop.runUntilIdle();
  EXPECT_TRUE(slow.ended);
  EXPECT_EQ(slow.received, "");
  EXPECT_TRUE(waiting.ended);
  EXPECT_EQ(waiting.received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << waiting.received;
  EXPECT_EQ(server.connectionCount(), 0u);
}

TEST(BlockPageServerPeerTest, AnswersLoopbackPeersOnly) {
  for (const char* ip : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(BlockPageServer::acceptsPeer(*SocketAddress::parse(ip, 5000))) << ip;
  }
  for (const char* ip : {"192.168.1.10", "10.0.0.1", "::ffff:10.0.0.1", "fe80::1", "0.0.0.0"}) {
    EXPECT_FALSE(BlockPageServer::acceptsPeer(*SocketAddress::parse(ip, 5000))) << ip;
  }
  EXPECT_FALSE(BlockPageServer::acceptsPeer(std::nullopt));
}

// An open stream hears a keep-alive comment every kKeepAliveSeconds, and the timer stops with
// the last stream.
TEST(BlockPageServerTimeTest, StreamsAreKeptAliveWhileOpen) {
  FakeClock clock;
  FakeRunLoop loop(clock);
  testing::FakeNetwork network(loop);
  BlockPageServer server(loop, network, [](const HttpRequestHead&, const std::string&) {
    HttpAnswer stream{200, "text/event-stream", "event: status\ndata: {}\n\n"};
    stream.stream = true;
    return stream;
  });
  ASSERT_TRUE(server.start(0).ok());
  auto client = std::make_unique<LoopbackClient>(
      network, server.port(), "GET /api/events HTTP/1.1\r\nHost: localhost\r\n\r\n");
  loop.advance(BlockPageServer::kHeadTimeoutSeconds + 1);  // no time limit on a stream
  EXPECT_FALSE(client->ended);
  EXPECT_THAT(client->received, HasSubstr("data: {}\n\n: keep-alive\n\n: keep-alive\n\n"));
  client.reset();
  loop.runUntilIdle();
  EXPECT_EQ(server.streamCount(), 0u);
  EXPECT_EQ(loop.scheduledTimers(), 0u);
}

}  // namespace
}  // namespace zelto
