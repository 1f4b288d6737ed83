#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MainApp/BlockPageServer.h"
#include "Support/LoopbackClient.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using testing::LoopbackClient;
using testing::runLoopUntil;

class BlockPageServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<BlockPageServer>(
        loop_, [this](const std::string& method, const std::string& target) {
          asked_.push_back(method + " " + target);
          return HttpAnswer{200, "text/html; charset=utf-8", "<p>blocked</p>"};
        });
    ASSERT_TRUE(server_->start(0).ok());
  }

  std::string exchange(const std::string& request, const std::string& ip = "127.0.0.1") {
    LoopbackClient client(loop_, server_->port(), request, ip);
    EXPECT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
    return client.received;
  }

  UvRunLoop loop_;
  std::unique_ptr<BlockPageServer> server_;
  std::vector<std::string> asked_;
};

TEST_F(BlockPageServerTest, AnswersOnceAndCloses) {
  EXPECT_EQ(exchange("GET /block/?zelto_url=a HTTP/1.1\r\nHost: x\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 14\r\n"
            "Connection: close\r\nCache-Control: no-store\r\n\r\n<p>blocked</p>");
  // ::1 as well, where the machine has it.
  LoopbackClient v6(loop_, server_->port(), "GET /proxy.pac HTTP/1.1\r\n\r\n", "::1");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return v6.ended; }));
  if (v6.connected) {
    EXPECT_EQ(v6.received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  }
  EXPECT_EQ(asked_.front(), "GET /block/?zelto_url=a");
  EXPECT_TRUE(runLoopUntil(loop_, [&] { return server_->connectionCount() == 0; }));
}

TEST_F(BlockPageServerTest, AnswersMalformedRequestsWithTheirStatus) {
  EXPECT_EQ(exchange("GARBAGE\r\n\r\n").rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
  EXPECT_EQ(exchange("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 414 URI Too Long\r\n", 0),
            0u);
  EXPECT_EQ(exchange("GET / HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n")
                .rfind("HTTP/1.1 431 ", 0),
            0u);
  EXPECT_EQ(exchange("GET / HTTP/3.0\r\n\r\n").rfind("HTTP/1.1 505 ", 0), 0u);
  EXPECT_TRUE(asked_.empty());
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

}  // namespace
}  // namespace zelto
