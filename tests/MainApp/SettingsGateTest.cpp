#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "App/Data/PageTokens.h"
#include "MainApp/BlockPageServer.h"
#include "MainApp/SettingsGate.h"
#include "Platform/Env.h"
#include "Platform/Linux/UvNetwork.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/LoopbackClient.h"
#include "Support/MainAppUnderTest.h"
#include "Support/RunLoopUntil.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::LoopbackClient;
using testing::runLoopUntil;

constexpr const char* kSecurityFields =
    "X-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\nReferrer-Policy: no-referrer\r\n"
    "Content-Security-Policy: default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
    "base-uri 'none'; form-action 'self'\r\n";

// The gate in front of a running server, with a private runtime folder, web files and an API
// that says what reached it.
class SettingsGateTest : public ::testing::Test {
 protected:
  SettingsGateTest() {
    dir_.write("web/index.html", "<h1>settings</h1>");
    dir_.write("web/app.js", "go();");
    server_.setRefusalFields(SettingsGate::securityFields());
    EXPECT_TRUE(server_.start(0).ok());
    host_ = "Host: localhost:" + std::to_string(server_.port()) + "\r\n";
  }

  std::string exchange(const std::string& request) {
    LoopbackClient client(network_, server_.port(), request);
    EXPECT_TRUE(runLoopUntil(loop_, [&] { return client.ended; }));
    return client.received;
  }
  std::string cookie() { return "Cookie: a=b; zelto_session=" + *tokens_.sessionSecret() + "\r\n"; }
  std::string post(const std::string& fields, const std::string& body) {
    return "POST /api/start HTTP/1.1\r\n" + host_ + cookie() + fields +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }

  testing::TempDir dir_;
  FakeClock clock_;
  PageTokens tokens_{Env::fileSystem(), clock_, dir_.path()};
  std::vector<std::string> reached_;
  SettingsGate gate_{
      tokens_, Env::fileSystem(), dir_ / "web",
      [this](std::string_view method, std::string_view target, std::string_view body) {
        reached_.push_back(std::string(method) + " " + std::string(target) + " " +
                           std::string(body));
        return HttpAnswer{200, "application/json; charset=utf-8", "{}"};
      },
      [] {
        return nlohmann::json{{"mode", "off"}};
      }};
  UvRunLoop loop_;
  UvNetwork network_{loop_};
  BlockPageServer server_{loop_, network_,
                          [this](const HttpRequestHead& head, const std::string& body) {
                            return gate_.answer(head, body).value_or(HttpAnswer{});
                          }};
  std::string host_;
};

TEST_F(SettingsGateTest, RefusesWhatAnotherPageCouldSendAndServesItsOwn) {
  struct Case {
    std::string name;
    std::string request;
    std::string status;  // the start of the answer
    bool secured = true;
  };
  const std::string json = "Content-Type: application/json\r\n";
  const std::string origin = "Origin: http://localhost:" + std::to_string(server_.port()) + "\r\n";
  const std::vector<Case> cases = {
      {"foreign host", "GET /api/status HTTP/1.1\r\nHost: evil.example\r\n" + cookie() + "\r\n",
       "HTTP/1.1 421 ", false},
      {"no cookie", "GET /api/status HTTP/1.1\r\n" + host_ + "\r\n", "HTTP/1.1 403 "},
      {"wrong cookie",
       "GET /api/status HTTP/1.1\r\n" + host_ + "Cookie: zelto_session=" + std::string(64, 'a') +
           "\r\n\r\n",
       "HTTP/1.1 403 "},
      {"cross-site",
       "GET /api/status HTTP/1.1\r\n" + host_ + cookie() + "Sec-Fetch-Site: cross-site\r\n\r\n",
       "HTTP/1.1 403 "},
      {"bytes that are no text",
       "GET /api/status HTTP/1.1\r\n" + host_ + cookie() + "Sec-Fetch-Site: \xff\xfe\r\n\r\n",
       "HTTP/1.1 403 "},
      {"no origin", post(json, "{}"), "HTTP/1.1 403 "},
      {"wrong origin", post(json + "Origin: http://evil.example\r\n", "{}"), "HTTP/1.1 403 "},
      {"form", post(origin + "Content-Type: application/x-www-form-urlencoded\r\n", "a=1"),
       "HTTP/1.1 415 "},
      {"big body",
       "POST /api/start HTTP/1.1\r\n" + host_ + cookie() + origin + json +
           "Content-Length: 70000\r\n\r\n",
       "HTTP/1.1 413 "},
      {"chunked",
       "POST /api/start HTTP/1.1\r\n" + host_ + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       "HTTP/1.1 411 "},
      {"not an object", post(origin + json, "[1]"), "HTTP/1.1 400 "},
      {"good post", post(origin + json, "{\"for\":\"5m\"}"), "HTTP/1.1 200 "},
      {"good get", "GET /api/status HTTP/1.1\r\n" + host_ + cookie() + "\r\n", "HTTP/1.1 200 "},
      {"index", "GET / HTTP/1.1\r\n" + host_ + "\r\n", "HTTP/1.1 200 "},
      {"script", "GET /app.js HTTP/1.1\r\n" + host_ + "\r\n", "HTTP/1.1 200 "},
      {"missing file", "GET /app.css HTTP/1.1\r\n" + host_ + "\r\n", "HTTP/1.1 404 "},
  };
  for (const Case& c : cases) {
    const std::string answer = exchange(c.request);
    EXPECT_EQ(answer.substr(0, c.status.size()), c.status) << c.name << "\n" << answer;
    EXPECT_EQ(answer.find("Access-Control-"), std::string::npos) << c.name;
    if (c.secured) {
      EXPECT_NE(answer.find(kSecurityFields), std::string::npos) << c.name;
    }
  }
  EXPECT_NE(exchange("GET / HTTP/1.1\r\n" + host_ + "\r\n").find("<h1>settings</h1>"),
            std::string::npos);
  EXPECT_EQ(reached_,
            (std::vector<std::string>{"POST /api/start {\"for\":\"5m\"}", "GET /api/status "}));
}

// A token opens one session, once, within its two minutes.
TEST_F(SettingsGateTest, ATokenWorksOnceWithinItsTime) {
  auto redeem = [&](const std::string& token) {
    return exchange("GET /session?token=" + token + " HTTP/1.1\r\n" + host_ + "\r\n");
  };
  const std::string token = *tokens_.mint();
  const std::string first = redeem(token);
  EXPECT_EQ(first.rfind("HTTP/1.1 303 ", 0), 0u) << first;
  EXPECT_NE(first.find("Location: /\r\nSet-Cookie: zelto_session=" + *tokens_.sessionSecret() +
                       "; Path=/; HttpOnly; SameSite=Strict\r\n"),
            std::string::npos)
      << first;
  EXPECT_EQ(redeem(token).rfind("HTTP/1.1 403 ", 0), 0u);
  const std::string late = *tokens_.mint();
  clock_.advance(PageTokens::kLifetimeSeconds + 1);
  EXPECT_EQ(redeem(late).rfind("HTTP/1.1 403 ", 0), 0u);
  EXPECT_EQ(redeem("../page-session").rfind("HTTP/1.1 403 ", 0), 0u);
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(dir_ / PageTokens::kFolderName).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir_ / PageTokens::kSecretFileName).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
}

// Streams start with a status event, hear what is broadcast, and are bounded in number.
TEST_F(SettingsGateTest, EventStreamsStartWithStatusAndAreBounded) {
  const std::string request = "GET /api/events HTTP/1.1\r\n" + host_ + cookie() + "\r\n";
  std::vector<std::unique_ptr<LoopbackClient>> streams;
  for (size_t i = 0; i < BlockPageServer::kMaxStreams; ++i) {
    streams.push_back(std::make_unique<LoopbackClient>(network_, server_.port(), request));
  }
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return server_.streamCount() == streams.size(); }));
  EXPECT_EQ(exchange(request).rfind("HTTP/1.1 503 ", 0), 0u);
  LoopbackClient& first = *streams.front();
  ASSERT_TRUE(runLoopUntil(loop_, [&] { return first.received.ends_with("\n\n"); }));
  EXPECT_NE(first.received.find("Content-Type: text/event-stream"), std::string::npos);
  EXPECT_TRUE(first.received.ends_with("\r\n\r\nevent: status\ndata: {\"mode\":\"off\"}\n\n"));
  server_.broadcast(gate_.statusEvent(true));
  ASSERT_TRUE(
      runLoopUntil(loop_, [&] { return first.received.find("changed") != std::string::npos; }));
  streams.clear();
  EXPECT_TRUE(runLoopUntil(loop_, [&] { return server_.streamCount() == 0; }));
}

// zeltoctl open signs a browser in; the application then tells its stream when zeltoctl (or
// anyone) rewrites the configuration.
TEST(SettingsPageEndToEndTest, ZeltoctlOpensASessionWhoseStreamHearsOfChanges) {
  testing::MainAppUnderTest app;
  app.writeConfig({});
  ASSERT_TRUE(app.start());
  auto [code, url] =
      testing::runToEnd(app.dir() / "Zelto.app/Contents/MacOS/zeltoctl", app.environment(),
                        app.dir().path(), {"open", "--print-url"});
  const std::string base = "http://localhost:" + std::to_string(app.blockPort());
  ASSERT_EQ(code, 0) << url;
  ASSERT_EQ(url.rfind(base + "/session?token=", 0), 0u) << url;
  const std::string host = "Host: localhost:" + std::to_string(app.blockPort()) + "\r\n";
  UvRunLoop loop;
  UvNetwork network(loop);
  LoopbackClient session(network, app.blockPort(),
                         "GET " + url.substr(base.size(), url.size() - base.size() - 1) +
                             " HTTP/1.1\r\n" + host + "\r\n");
  ASSERT_TRUE(runLoopUntil(loop, [&] { return session.ended; }));
  const size_t cookie = session.received.find("zelto_session=");
  ASSERT_EQ(session.received.rfind("HTTP/1.1 303 ", 0), 0u) << session.received;
  ASSERT_NE(cookie, std::string::npos);
  LoopbackClient stream(network, app.blockPort(),
                        "GET /api/events HTTP/1.1\r\n" + host +
                            "Cookie: " + session.received.substr(cookie, 14 + 64) + "\r\n\r\n");
  auto heard = [&](const std::string& text) {
    return runLoopUntil(loop, [&] { return stream.received.find(text) != std::string::npos; });
  };
  ASSERT_TRUE(heard("event: status")) << stream.received;
  app.writeConfig({{"blockedWebsites", {"example.org"}}});
  EXPECT_TRUE(heard("event: changed")) << stream.received;
}

}  // namespace
}  // namespace zelto
