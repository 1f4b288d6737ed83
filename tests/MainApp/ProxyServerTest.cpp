#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MainApp/ProxyRequestHandler.h"
#include "MainApp/ProxyServer.h"
#include "Platform/Linux/TcpListener.h"
#include "Support/LoopbackClient.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using testing::LoopbackClient;
using testing::runLoopUntil;

// A far end on the test's loop: keeps what each connection sends and runs `onData` on it.
struct Origin {
  struct Peer {
    std::unique_ptr<TcpStream> stream;
    std::string received;
    bool ended = false;
  };

  explicit Origin(UvRunLoop& loop, std::function<void(Peer&)> onData) : onData(std::move(onData)) {
    listener = std::move(*TcpListener::listen(loop, "127.0.0.1", 0, [this](auto stream) {
      peers.push_back(std::make_unique<Peer>());
      Peer& peer = *peers.back();
      peer.stream = std::move(stream);
      peer.stream->startReading(
          [this, &peer](std::string_view bytes) {
            peer.received.append(bytes);
            this->onData(peer);
          },
          [&peer](const Status&) {
            peer.ended = true;
            peer.stream.reset();
          });
    }));
  }
  int port() const { return listener->port(); }

  std::function<void(Peer&)> onData;
  std::unique_ptr<TcpListener> listener;
  std::vector<std::unique_ptr<Peer>> peers;
};

class ProxyServerTest : public ::testing::Test {
 protected:
  void startProxy(ProxyServer::Options options = {}) {
    proxy_ = std::make_unique<ProxyServer>(
        loop_,
        [this](const ProxyRequest& request) {
          asked_.push_back(request);
          if (request.host == "blocked.example") {
            return ProxyVerdict{ProxyVerdict::Kind::kRedirect, "http://127.0.0.1:9/block/?x", ""};
          }
          if (request.host == "refused.example") {
            return ProxyVerdict{ProxyVerdict::Kind::kRefuse, "", "blocked by\r\nthe schedule"};
          }
          return ProxyVerdict{};
        },
        options);
    ASSERT_TRUE(proxy_->start(0).ok());
    ASSERT_GT(proxy_->port(), 0);
  }

  // The whole answer to `request`, sent on a connection of its own.
  std::string exchange(const std::string& request) {
    LoopbackClient client(loop_, proxy_->port(), request);
    EXPECT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
    return client.received;
  }

  bool allClosed() {
    return runLoopUntil(loop_, [&] { return proxy_->connectionCount() == 0; });
  }

  UvRunLoop loop_;
  std::unique_ptr<ProxyServer> proxy_;
  std::vector<ProxyRequest> asked_;
};

TEST_F(ProxyServerTest, RedirectsAndRefusesAsTheDeciderSays) {
  startProxy();
  const std::string redirect =
      exchange("GET http://blocked.example/page?q=1 HTTP/1.1\r\nHost: blocked.example\r\n\r\n");
  EXPECT_EQ(redirect.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << redirect;
  EXPECT_NE(redirect.find("\r\nLocation: http://127.0.0.1:9/block/?x\r\n"), std::string::npos);
  EXPECT_NE(redirect.find("\r\nConnection: close\r\n"), std::string::npos);

  // A refused CONNECT is answered, never tunnelled; the reason stays on one line.
  const std::string refused =
      exchange("CONNECT refused.example:443 HTTP/1.1\r\nHost: refused.example:443\r\n\r\n");
  EXPECT_EQ(refused.rfind("HTTP/1.1 403 Forbidden\r\n", 0), 0u) << refused;
  EXPECT_NE(refused.find("\r\n\r\nblocked by  the schedule\n"), std::string::npos) << refused;

  exchange("CONNECT refused.example:8443 HTTP/1.1\r\n\r\n");
  ASSERT_EQ(asked_.size(), 3u);
  EXPECT_EQ(asked_[0].url, "http://blocked.example/page?q=1");
  EXPECT_FALSE(asked_[0].isConnect);
  EXPECT_EQ(asked_[0].port, 80);
  EXPECT_EQ(asked_[1].url, "https://refused.example/");
  EXPECT_TRUE(asked_[1].isConnect);
  EXPECT_EQ(asked_[2].url, "https://refused.example:8443/");
  EXPECT_TRUE(allClosed());
}

TEST_F(ProxyServerTest, PassesARequestUpstreamByteForByte) {
  // Bodies both ways well above what is queued before reading pauses.
  const std::string requestBody(600 * 1024, 'q');
  std::string responseBody;
  for (int i = 0; responseBody.size() < 4 * 1024 * 1024; ++i)
    responseBody += std::to_string(i) + ',';
  const std::string response =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(responseBody.size()) + "\r\n\r\n" +
      responseBody;
  bool answered = false;
  Origin origin(loop_, [&](Origin::Peer& peer) {
    if (answered || peer.received.size() < peer.received.find("\r\n\r\n") + 4 + requestBody.size())
      return;
    answered = true;
    peer.stream->write(response);
    peer.stream->shutdown();
  });
  startProxy();
  const std::string authority = "127.0.0.1:" + std::to_string(origin.port());
  // The client holds back reading: the proxy has to hold the answer back too.
  LoopbackClient client(loop_, proxy_->port(),
                        "POST http://" + authority +
                            "/up/load?x=1#frag HTTP/1.1\r\nHost: " + authority +
                            "\r\nProxy-Connection: keep-alive\r\nConnection: X-Hop, keep-alive\r\n"
                            "X-Hop: 1\r\nTE: trailers\r\nX-Kept: yes\r\nContent-Length: " +
                            std::to_string(requestBody.size()) + "\r\n\r\n" + requestBody,
                        "127.0.0.1", /*holdReading=*/true);
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return answered; }));
  client.readNow();
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
  EXPECT_TRUE(client.received == response) << client.received.substr(0, 200);

  ASSERT_EQ(origin.peers.size(), 1u);
  EXPECT_EQ(origin.peers[0]->received,
            "POST /up/load?x=1 HTTP/1.1\r\nHost: " + authority +
                "\r\nX-Kept: yes\r\nContent-Length: " + std::to_string(requestBody.size()) +
                "\r\nConnection: close\r\n\r\n" + requestBody);
  EXPECT_TRUE(allClosed());
}

TEST_F(ProxyServerTest, TunnelsConnectWithTheBytesSentEarly) {
  Origin echo(loop_,
              [](Origin::Peer& peer) { peer.stream->write(std::exchange(peer.received, {})); });
  startProxy();
  LoopbackClient client(
      loop_, proxy_->port(),
      "CONNECT 127.0.0.1:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\nearly ");
  const std::string established = "HTTP/1.1 200 Connection Established\r\n\r\n";
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return client.received == established + "early "; }))
      << client.received;
  client.send("ping");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return client.received == established + "early ping"; }));
  EXPECT_EQ(asked_.at(0).url, "https://127.0.0.1:" + std::to_string(echo.port()) + "/");
  client.close();
  EXPECT_TRUE(allClosed());
}

TEST_F(ProxyServerTest, AnswersMalformedLoopingAndUnreachableRequests) {
  startProxy();
  EXPECT_EQ(exchange("NONSENSE\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  // Origin form: a request meant for a server, not for a proxy.
  EXPECT_EQ(exchange("GET /x HTTP/1.1\r\nHost: a.example\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  EXPECT_EQ(exchange("GET https://a.example/ HTTP/1.1\r\n\r\n").rfind("HTTP/1.1 400 ", 0), 0u);
  EXPECT_EQ(exchange("GET http://a.example/ HTTP/2.0\r\n\r\n").rfind("HTTP/1.1 505 ", 0), 0u);
  EXPECT_EQ(exchange("GET http://a.example/" + std::string(10000, 'a') + " HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 414 ", 0),
            0u);

  const std::string own = std::to_string(proxy_->port());
  for (std::string host : {"127.0.0.1", "localhost", "[::1]", "0.0.0.0"}) {
    const std::string answer = exchange("GET http://" + host + ":" + own + "/ HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.1 403 ", 0), 0u) << host;
    EXPECT_NE(answer.find("\r\n\r\nloop\n"), std::string::npos) << host;
  }
  EXPECT_TRUE(asked_.empty());
  // Only resolving tells that this one is the proxy itself.
  EXPECT_NE(exchange("CONNECT 127.1:" + own + " HTTP/1.1\r\n\r\n").find("\r\n\r\nloop\n"),
            std::string::npos);

  // A port nothing listens on any more.
  int closedPort = 0;
  {
    Origin gone(loop_, [](Origin::Peer&) {});
    closedPort = gone.port();
  }
  EXPECT_EQ(exchange("GET http://127.0.0.1:" + std::to_string(closedPort) + "/ HTTP/1.1\r\n\r\n")
                .rfind("HTTP/1.1 502 ", 0),
            0u);
  EXPECT_TRUE(allClosed());
}

TEST_F(ProxyServerTest, BoundsConnections) {
  ProxyServer::Options options;
  options.maxConnections = 2;
  startProxy(options);
  LoopbackClient first(loop_, proxy_->port(), "GET http://a.example/ HTTP/1.1\r\n");
  LoopbackClient second(loop_, proxy_->port());
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return proxy_->connectionCount() == 2; }));
  LoopbackClient third(loop_, proxy_->port());
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return third.ended; }));
  EXPECT_TRUE(third.received.empty());
  EXPECT_EQ(proxy_->connectionCount(), 2u);
  EXPECT_FALSE(first.ended || second.ended);

  first.close();
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return proxy_->connectionCount() == 1; }));
  LoopbackClient fourth(loop_, proxy_->port());
  EXPECT_TRUE(runLoopUntil(loop_, [&] { return proxy_->connectionCount() == 2; }));
}

TEST_F(ProxyServerTest, TimesOutSlowHeadsAndIdleTunnels) {
  ProxyServer::Options options;
  options.headTimeoutSeconds = 0.2;
  options.idleTimeoutSeconds = 0.2;
  startProxy(options);
  LoopbackClient slow(loop_, proxy_->port(), "GET http://a.example/ HTTP/1.1\r\n");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return slow.ended; }));
  EXPECT_TRUE(slow.received.empty());

  Origin silent(loop_, [](Origin::Peer&) {});
  LoopbackClient tunnel(loop_, proxy_->port(),
                        "CONNECT 127.0.0.1:" + std::to_string(silent.port()) + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return tunnel.ended; }));
  EXPECT_EQ(tunnel.received, "HTTP/1.1 200 Connection Established\r\n\r\n");
  EXPECT_TRUE(
      runLoopUntil(loop_, [&] { return silent.peers.size() == 1 && silent.peers[0]->ended; }));
  EXPECT_EQ(proxy_->connectionCount(), 0u);
}

TEST(ProxyRequestHandlerTest, RewritesHeadsAndKnowsItsOwnAddress) {
  HttpRequestHead head;
  head.method = "GET";
  head.target = "HTTP://[::1]:8080?q";
  head.host = "::1";
  head.port = 8080;
  head.versionMinor = 0;
  head.headers = {{"Keep-Alive", "5"}, {"Upgrade", "x"}, {"Accept", "a\rb"}};
  EXPECT_EQ(ProxyRequestHandler::rewriteHead(head),
            "GET /?q HTTP/1.0\r\nAccept: a b\r\nHost: [::1]:8080\r\nConnection: close\r\n\r\n");

  EXPECT_TRUE(ProxyRequestHandler::isLoopTarget("LocalHost", 8920, 8920));
  EXPECT_TRUE(ProxyRequestHandler::isLoopTarget("127.0.0.2", 8920, 8920));
  EXPECT_TRUE(ProxyRequestHandler::isLoopTarget("[::]", 8920, 8920));
  EXPECT_FALSE(ProxyRequestHandler::isLoopTarget("127.0.0.1", 80, 8920));
  EXPECT_FALSE(ProxyRequestHandler::isLoopTarget("example.com", 8920, 8920));
}

}  // namespace
}  // namespace zelto
