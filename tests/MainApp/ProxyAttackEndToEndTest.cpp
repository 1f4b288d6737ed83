// The filtering proxy end to end against a determined user: the built program, client sockets
// the test writes raw bytes to, and raw origins on 127.0.0.1, .2 and .3 (three hosts, all
// loopback) that record exactly what reached them. Blocked requests, however spelt, framed or
// hidden, must never reach an origin; allowed ones pass byte for byte on kept-alive
// connections; open connections follow changes of blocking; a flood of slow heads starves no one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <map>
#include <stop_token>
#include <thread>

#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Sanitized builds run several times slower: time bounds stretch by this much.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 5;
#else
constexpr int kSlowdown = 1;
#endif
constexpr auto kAnswerBound = std::chrono::seconds(10 * kSlowdown);

// A socket connecting to `port` of 127.0.0.1 (at once, or in progress when non-blocking), or
// -1 when that failed.
FileDescriptor connectTo(int port, int flags = 0) {
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
  const timeval bound{kAnswerBound.count(), 0};  // bounds connecting and each send
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0 ||
      (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
       (errno != EINPROGRESS || flags == 0))) {
    fd.reset();
  }
  return fd;
}

// One connection to the proxy, written and read by the test itself.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(connectTo(port)), ended_(fd_.get() < 0) {}

  // All of `bytes` (a blocking send stops short only when the bound ran out).
  bool send(std::string_view bytes) {
    return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // The next whole response, answering `method`, if it comes before `deadline`.
  std::optional<HttpMessage> read(Clock::time_point deadline, std::string_view method = "GET") {
    while (true) {
      HttpMessage message;
      const size_t used = readHttpMessage(in_, message, method, ended_);
      if (used == std::string_view::npos) return std::nullopt;
      if (used > 0) {
        in_.erase(0, used);
        return message;
      }
      if (ended_ || !fill(deadline)) return std::nullopt;
    }
  }
  // Whether the proxy closes the connection before `deadline` (bytes before that are kept).
  bool closesBy(Clock::time_point deadline) {
    while (!ended_ && fill(deadline)) {
    }
    return ended_;
  }
  const std::string& unread() const { return in_; }

 private:
  // Waits for bytes or the end; false when the deadline came first.
  bool fill(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    pollfd polled{fd_.get(), POLLIN, 0};
    if (::poll(&polled, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) return false;
    char buffer[64 * 1024];
    const ssize_t got = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (got > 0) in_.append(buffer, static_cast<size_t>(got));
    ended_ = got <= 0;  // closed, or reset
    return true;
  }

  FileDescriptor fd_;
  std::string in_;
  bool ended_;
};

// Connections that each send the start of a request head, then one more byte of it every
// 300 ms, never finishing it; those the proxy closes stay closed. All close when it goes.
class SlowHeads {
 public:
  SlowHeads(int port, int count, std::string head) : head_(std::move(head)) {
    // One that couldn't connect fails its first send (on no descriptor), and counts as closed.
    for (int i = 0; i < count; ++i) slows_.push_back({connectTo(port, SOCK_NONBLOCK)});
    thread_ = std::jthread([this](std::stop_token stop) {
      std::mutex mutex;
      std::condition_variable_any pace;
      std::unique_lock lock(mutex);
      while (!stop.stop_requested()) {
        for (Slow& slow : slows_) step(slow);
        pace.wait_for(lock, stop, milliseconds(300), [] { return false; });
      }
    });
  }
  // Every connection has sent the start of its head, or was closed.
  bool allStarted() const { return started_ == slows_.size(); }

 private:
  struct Slow {
    FileDescriptor fd;
    size_t sent = 0;
    bool closed = false;
  };

  void step(Slow& slow) {
    if (slow.closed) return;
    const bool starting = slow.sent < head_.size();
    std::string_view next = starting ? std::string_view(head_).substr(slow.sent) : "a";
    const ssize_t sent = ::send(slow.fd.get(), next.data(), next.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      slow.sent += static_cast<size_t>(sent);
    } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN &&
               errno != EINTR) {
      slow.closed = true;  // else still connecting, or full: next time
    }
    if (starting && (slow.closed || slow.sent >= head_.size())) ++started_;
  }

  std::string head_;
  std::vector<Slow> slows_;
  std::atomic<size_t> started_{0};
  std::jthread thread_;  // last: stops before the sockets close
};

std::string request(const std::string& method, const std::string& target, const std::string& fields,
                    const std::string& body = "") {
  return method + " " + target + " HTTP/1.1\r\n" + fields + "\r\n" + body;
}
std::string host(const std::string& authority) { return "Host: " + authority + "\r\n"; }
std::string get(const std::string& target, const std::string& authority) {
  return request("GET", target, host(authority));
}
std::string get(const HttpOrigin& origin, const std::string& path) {
  return get(origin.url(path), origin.pattern());
}
std::string connect(const std::string& authority) {
  return request("CONNECT", authority, host(authority));
}

// The methods of the requests in `bytes`, in order: what each answer answers.
std::vector<std::string> methodsIn(std::string_view bytes) {
  std::vector<std::string> methods;
  HttpMessage message;
  for (size_t used = 0; !bytes.empty(); bytes.remove_prefix(used)) {
    used = readHttpMessage(bytes, message);
    if (used == 0 || used == std::string_view::npos) break;
    methods.push_back(message.first);
  }
  return methods;
}

// What one client connection does: each step's bytes are written once the answers to the
// step before came. `answers`: the statuses expected, in order, "|" between acceptable
// alternatives ("200 302|400"). `reached`: what the origins get, in order, one per 200 answer
// (whose body must name it). After an answer saying "Connection: close" (a 400, a refused
// CONNECT or request with a body) the proxy closes the connection; a refused request without a
// body keeps it.
struct Step {
  std::string bytes;
  std::string answers;
};
struct Reached {
  const HttpOrigin* origin;
  std::string method;
  std::string target;
  std::string body = {};
};
struct Script {
  std::string name;
  std::vector<Step> steps;
  std::vector<Reached> reached;
};

class ProxyAttackEndToEndTest : public ::testing::Test {
 protected:
  // A fresh copy of the program, started with `config` (and `prefix`, see MainAppUnderTest).
  void launch(json config, const std::vector<std::string>& prefix = {}) {
    app_.emplace();
    app_->writeConfig(std::move(config));
    ASSERT_TRUE(app_->start(prefix)) << app_->log();
  }
  // A prefix that starts the program with names of its own: `hosts` bound over /etc/hosts, and
  // a name server that refuses at once (nothing listens on 127.0.0.1:53 in the test's set-up),
  // so that a name not in `hosts` fails now rather than when the machine's server answers.
  // Empty where no mount namespace can be made.
  std::vector<std::string> privateNames(const std::string& hosts = "") {
    const std::string unshare = ::geteuid() == 0 ? "-m" : "-rm";
    if (std::system(("/usr/bin/unshare " + unshare + " true 2>/dev/null").c_str()) != 0) return {};
    return {"/usr/bin/unshare",
            unshare,
            "/bin/sh",
            "-c",
            "mount --bind \"$0\" /etc/hosts && mount --bind \"$1\" /etc/resolv.conf && shift && "
            "exec \"$@\"",
            names_.write("hosts", "127.0.0.1 localhost\n" + hosts),
            names_.write("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n")};
  }
  static json blocking(json patterns) {
    return MainAppUnderTest::timer(3600, {{"blockedWebsites", std::move(patterns)}});
  }
  std::string named() const { return std::to_string(named_.port()); }

  void play(const Script& script) {
    SCOPED_TRACE(script.name);
    std::map<const HttpOrigin*, size_t> before;
    for (const HttpOrigin* origin : origins_) before[origin] = origin->requests().size();
    RawClient client(app_->proxyPort());
    size_t hits = 0;
    bool closing = false;
    // The answers to one step, as expected; false (having said why) when not.
    auto exchange = [&](const Step& step) {
      const std::vector<std::string> methods = methodsIn(step.bytes);
      if (closing || !client.send(step.bytes)) {
        ADD_FAILURE() << "can't send after \"" << step.bytes.substr(0, 60) << "\"";
        return false;
      }
      // Answers are read while what was seen is the start of an alternative, not yet a whole one.
      const std::string choices = "|" + step.answers + "|";
      std::string seen;
      for (size_t count = 0; choices.find("|" + seen + "|") == std::string::npos; ++count) {
        if (choices.find("|" + seen) == std::string::npos) {
          ADD_FAILURE() << "answered " << seen << ", expected " << step.answers;
          return false;
        }
        auto answer = client.read(Clock::now() + kAnswerBound,
                                  count < methods.size() ? methods[count] : "GET");
        if (!answer) {
          ADD_FAILURE() << "no answer after \"" << seen << "\", expected " << step.answers
                        << "; unread: " << client.unread().substr(0, 300);
          return false;
        }
        seen += (seen.empty() ? "" : " ") + answer->second;
        if (answer->second == "200" && hits++ < script.reached.size()) {
          const Reached& reached = script.reached[hits - 1];
          EXPECT_EQ(answer->body,
                    reached.method == "HEAD" ? "" : HttpOrigin::bodyFor(reached.target))
              << "answer " << count + 1;
        } else if (answer->second == "200") {
          ADD_FAILURE() << "passed: " << answer->body.substr(0, 100);
        }
        if (answer->second == "302") {
          EXPECT_THAT(answer->field("Location"), HasSubstr("/block/?zelto_url="));
        }
        closing = answer->field("Connection") == "close";
      }
      return true;
    };
    if (std::all_of(script.steps.begin(), script.steps.end(), exchange) && closing) {
      EXPECT_TRUE(client.closesBy(Clock::now() + kAnswerBound)) << "still open after a refusal";
      EXPECT_EQ(client.unread(), "");
    }
    for (const HttpOrigin* origin : origins_) {
      std::vector<OriginRequest> expected;
      for (size_t i = 0; i < std::min(hits, script.reached.size()); ++i) {
        const Reached& reached = script.reached[i];
        if (reached.origin == origin) {
          expected.push_back({reached.method, reached.target, origin->pattern(), reached.body});
        }
      }
      std::vector<OriginRequest> got = origin->requests();
      got.erase(got.begin(), got.begin() + static_cast<long>(before[origin]));
      EXPECT_EQ(got, expected) << "at " << origin->pattern();
    }
  }

  // Checks `client` reaches `origin` (through its tunnel, or as the proxy's kept-alive client):
  // `path` is answered.
  static bool answers(RawClient& client, const HttpOrigin& origin, bool tunnel,
                      const std::string& path) {
    if (!client.send(get(tunnel ? path : origin.url(path), origin.pattern()))) return false;
    auto answer = client.read(Clock::now() + kAnswerBound);
    return answer && answer->second == "200" && answer->body == HttpOrigin::bodyFor(path);
  }
  static bool tunnels(RawClient& client, const HttpOrigin& origin) {
    if (!client.send(connect(origin.pattern()))) return false;
    auto answer = client.read(Clock::now() + kAnswerBound, "CONNECT");
    return answer && answer->second == "200" && answers(client, origin, true, "/opened");
  }

  TempDir names_;
  HttpOrigin here_{"127.0.0.1"};     // allowed, but for its path /forbidden
  HttpOrigin blocked_{"127.0.0.2"};  // a blocked host
  HttpOrigin there_{"127.0.0.3"};    // allowed
  HttpOrigin named_{"127.0.0.1"};    // blocked as localhost:PORT
  const std::vector<const HttpOrigin*> origins_{&here_, &blocked_, &there_, &named_};
  std::optional<MainAppUnderTest> app_;  // after the origins: it stops first
};

TEST_F(ProxyAttackEndToEndTest, BlockedRequestsNeverReachAnOriginAndAllowedOnesPassByteForByte) {
  // 127.0.0.2 whole, a path of 127.0.0.1, a name that is 127.0.0.1, an international name and
  // a path of a name that doesn't resolve.
  ASSERT_NO_FATAL_FAILURE(
      launch(blocking({"127.0.0.2", here_.pattern() + "/forbidden", "localhost:" + named(),
                       "b\u00FCcher.test", "nowhere.test/secret"}),
             privateNames()));
  const std::string here = here_.pattern(), blocked = blocked_.pattern();
  const std::string lookalike = get(here_, "/forbidden?inside");
  const std::string smuggled = request("GET", "/forbidden?smuggled", host(here));
  const std::string bothFields = "Content-Length: " + std::to_string(5 + smuggled.size()) +
                                 "\r\nTransfer-Encoding: chunked\r\n";
  std::vector<Script> scripts = {
      {"pipelined: an allowed request, then a blocked host",
       {{get(here_, "/pipe") + get(blocked_, "/pipe"), "200 302"}},
       {{&here_, "GET", "/pipe"}}},
      {"pipelined: an allowed request, then a blocked path of the same origin",
       {{get(here_, "/pipe2") + get(here_, "/forbidden"), "200 302"}},
       {{&here_, "GET", "/pipe2"}}},
      {"a blocked host later on a kept-alive connection",
       {{get(here_, "/first"), "200"}, {get(blocked_, "/later"), "302"}},
       {{&here_, "GET", "/first"}}},
      {"an allowed request after a refused one on the same connection",
       {{get(blocked_, "/refused") + get(here_, "/after"), "302 200"},
        {get(here_, "/forbidden?again"), "302"}},
       {{&here_, "GET", "/after"}}},
      {"a blocked request after a Content-Length body that looks like one",
       {{request("POST", here_.url("/post"),
                 host(here) + "Content-Length: " + std::to_string(lookalike.size()) + "\r\n",
                 lookalike) +
             get(here_, "/forbidden?after"),
         "200 302"}},
       {{&here_, "POST", "/post", lookalike}}},
      {"a blocked request after a chunked body that looks like one",
       {{request("POST", here_.url("/chunks"), host(here) + "Transfer-Encoding: chunked\r\n",
                 chunk("hello ") + chunk(lookalike) + "0\r\n\r\n") +
             get(here_, "/forbidden?after"),
         "200 302"}},
       {{&here_, "POST", "/chunks", "hello " + lookalike}}},
      {"a blocked request smuggled under a Content-Length that covers a chunked body",
       {{request("POST", here_.url("/both"), host(here) + bothFields, "0\r\n\r\n" + smuggled),
         "200 302|400"}},
       {{&here_, "POST", "/both"}}},
      {"a Host field naming a blocked host: the URL's host is asked",
       {{get(here_.url("/hosted"), blocked), "200"}},
       {{&here_, "GET", "/hosted"}}},
      {"userinfo before an allowed host is dropped",
       {{get("http://u:pw@" + here + "/ui", here), "200"}},
       {{&here_, "GET", "/ui"}}},
      {"origin form: an allowed path named by the Host field",
       {{get("/origin-form", here), "200"}},
       {{&here_, "GET", "/origin-form"}}},
  };
  // One request each, refused (or, for a name that doesn't resolve, not found) on its own: it
  // reaches no origin.
  const std::string localhost = "localhost.:" + named(), punycode = "xn--bcher-kva.test";
  const std::vector<std::array<std::string, 3>> refused = {
      {"a Host field naming an allowed host: the URL's blocked host decides",
       get(blocked_.url("/hosted"), here), "302"},
      {"userinfo that reads like an allowed host",
       get("http://" + here + "@" + blocked + "/ui", here), "302"},
      {"an explicit default port before a blocked path",
       get("http://nowhere.test:80/secret", "nowhere.test"), "302"},
      {"capitals and a trailing dot before a blocked path",
       get("HTTP://NoWhere.TEST./secret", "nowhere.test"), "302"},
      {"an allowed path of a name that doesn't resolve: decided, then not found",
       get("http://nowhere.test/public", "nowhere.test"), "502"},
      {"CONNECT to port 80", connect("127.0.0.1:80"), "403"},
      // (A blocked name's address, by itself, is left to the unit tests: the only names here
      // resolve to loopback, which is never taken for a blocked host's address.)
      {"a blocked name with a trailing dot", get("http://" + localhost + "/", localhost),
       "302|403"},
      {"CONNECT to a blocked name with a trailing dot", connect(localhost), "403"},
      {"an international pattern against its punycode host",
       get("http://" + punycode + "/", punycode), "302"},
      {"the punycode host in capitals, with a trailing dot and the default port",
       get("HTTP://XN--BCHER-KVA.TEST.:80/x", punycode), "302"},
      {"the international host as raw UTF-8", get("http://b\u00FCcher.test/", punycode), "302|400"},
      {"CONNECT to the punycode host", connect(punycode + ":443"), "403"},
      {"origin form: a blocked path named by the Host field", get("/forbidden", here), "302"},
      {"origin form without a Host field", request("GET", "/origin-form", ""), "400"},
  };
  for (const auto& [name, bytes, status] : refused) {
    scripts.push_back({name, {{bytes, status}}, {}});
  }
  for (const char* path : {"//forbidden", "/./forbidden", "/%66orbidden", "/a/../forbidden",
                           "/a/%2e%2e/forbidden", "/%2E/forbidden"}) {
    scripts.push_back({std::string("the path ") + path, {{get(here_, path), "302"}}, {}});
  }
  // Other spellings of 127.0.0.2: refused, or at worst not found, never reaching it.
  for (const std::string spelt :
       {"2130706434", "127.2", "0x7f.0.0.2", "0177.0.0.2", "[::ffff:127.0.0.2]"}) {
    const std::string authority = spelt + ":" + std::to_string(blocked_.port());
    scripts.push_back({"127.0.0.2 spelt " + spelt,
                       {{get("http://" + authority + "/", authority), "302|403|400|502"}},
                       {}});
  }
  // Twenty requests on one connection pass byte for byte, in order.
  // Ten pipelined in one write, then ten one at a time; two hosts; bodies framed both ways
  // (holding what looks like a request head); large and chunked answers; HEAD, whose answer
  // announces a body it doesn't have.
  Script twenty{"twenty requests", {{"", ""}}, {}};
  for (int i = 0; i < 20; ++i) {
    const HttpOrigin& origin = i % 4 == 1 ? there_ : here_;
    const std::string path = "/k" + std::to_string(i) +
                             (i % 5 == 3   ? "?size=200000"
                              : i % 5 == 4 ? "?chunked&size=50000"
                                           : "");
    const std::string body = "part " + std::to_string(i) + "\r\n\r\nGET /forbidden HTTP/1.1\r\n";
    const bool posted = i % 6 == 2 || i % 6 == 5;
    const std::string method = i == 7 || i == 13 ? "HEAD" : posted ? "POST" : "GET";
    std::string fields = host(origin.pattern()), sent;
    if (i % 6 == 2) {
      fields += "Content-Length: " + std::to_string(body.size()) + "\r\n";
      sent = body;
    } else if (i % 6 == 5) {
      fields += "Transfer-Encoding: chunked\r\n";
      sent = chunk(body.substr(0, 4)) + chunk(body.substr(4)) + "0\r\n\r\n";
    }
    const std::string bytes = request(method, origin.url(path), fields, sent);
    twenty.reached.push_back({&origin, method, path, posted ? body : ""});
    if (i < 10) {
      twenty.steps[0].bytes += bytes;
      twenty.steps[0].answers += i == 0 ? "200" : " 200";
    } else {
      twenty.steps.push_back({bytes, "200"});
    }
  }
  scripts.push_back(twenty);
  for (const Script& script : scripts) play(script);
}

// Blocking starts, a host is added to the list, a break ends: tunnels and kept-alive
// connections to what is now blocked close within a second; those to allowed hosts stay.
TEST_F(ProxyAttackEndToEndTest, OpenConnectionsCloseWithinASecondOnceBlocked) {
  struct Change {
    std::string name;
    json opened;               // the configuration the connections open under
    std::optional<json> then;  // written to make the change (none: a break, ending)
    std::string marker;        // what the program logs when it sees the change
  };
  const json unblocked = {{"profiles", blocking({"127.0.0.2"})["profiles"]}};  // no timer
  const std::vector<Change> changes = {
      {"blocking starts", unblocked, blocking({"127.0.0.2"}), "Blocking phase: off -> blocking"},
      {"the host is added to the list", blocking({"nowhere.test"}),
       blocking({"nowhere.test", "127.0.0.2"}), "Detected preferences changed"},
      {"a break ends", blocking({"127.0.0.2"}), std::nullopt, "Blocking phase: break -> blocking"},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    json opened = change.opened;
    if (!change.then) opened["zeltoUnbreakDate"] = MainAppUnderTest::in(6 * kSlowdown);
    ASSERT_NO_FATAL_FAILURE(launch(opened));
    if (!change.then) {
      ASSERT_TRUE(eventually([&] { return app_->logHas("-> break"); })) << app_->log();
    }
    RawClient tunnel(app_->proxyPort()), kept(app_->proxyPort());
    RawClient allowedTunnel(app_->proxyPort()), allowedKept(app_->proxyPort());
    ASSERT_TRUE(tunnels(tunnel, blocked_));
    ASSERT_TRUE(answers(kept, blocked_, false, "/kept"));
    ASSERT_TRUE(tunnels(allowedTunnel, here_));
    ASSERT_TRUE(answers(allowedKept, here_, false, "/kept"));

    const size_t mark = app_->log().size();
    if (change.then) app_->writeConfig(*change.then);
    ASSERT_TRUE(
        eventually([&] { return app_->log().find(change.marker, mark) != std::string::npos; },
                   std::chrono::seconds(30 * kSlowdown)))
        << app_->log();
    const auto deadline = Clock::now() + milliseconds(1000 * kSlowdown + 500);
    EXPECT_TRUE(tunnel.closesBy(deadline)) << "the tunnel to the blocked host stays open";
    EXPECT_TRUE(kept.closesBy(deadline)) << "the kept-alive connection to it stays open";
    EXPECT_TRUE(answers(allowedTunnel, here_, true, "/after"));
    EXPECT_TRUE(answers(allowedKept, here_, false, "/after"));
  }
}

// 600 connections trickle heads they never finish: a complete request is still answered at
// once, and the overload is logged once, not per connection. Under a limit of 64 descriptors,
// and with a soft limit of 256 the program may raise.
TEST_F(ProxyAttackEndToEndTest, SlowHeadsDontStarveACompleteRequest) {
  rlimit own{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
  const std::string hard =
      own.rlim_max == RLIM_INFINITY ? "unlimited" : std::to_string(own.rlim_max);
  for (const bool overloaded : {true, false}) {
    const std::string limit = overloaded ? "64" : "256:" + hard;
    SCOPED_TRACE("a limit of " + limit);
    ASSERT_NO_FATAL_FAILURE(
        launch(blocking({"127.0.0.2"}), {"/usr/bin/prlimit", "--nofile=" + limit, "--"}));
    SlowHeads slow(
        app_->proxyPort(), 600,
        "GET " + here_.url("/slow") + " HTTP/1.1\r\n" + host(here_.pattern()) + "X-Slow: ");
    ASSERT_TRUE(eventually([&] { return slow.allStarted(); })) << app_->log();

    for (const auto& [origin, status] : {std::pair{&here_, "200"}, std::pair{&blocked_, "302"}}) {
      RawClient client(app_->proxyPort());
      const auto sent = Clock::now();
      ASSERT_TRUE(client.send(get(*origin, "/complete")));
      auto answer = client.read(sent + kAnswerBound);
      EXPECT_LE(Clock::now() - sent, milliseconds(2000 * kSlowdown))
          << "from " << origin->pattern();
      ASSERT_TRUE(answer) << "no answer from " << origin->pattern() << "\n" << app_->log();
      EXPECT_EQ(answer->second, status);
      if (answer->second == "200") {
        EXPECT_EQ(answer->body, HttpOrigin::bodyFor("/complete"));
      }
    }
    if (overloaded) {
      EXPECT_TRUE(eventually([&] { return app_->logHas("Proxy overloaded:"); })) << app_->log();
      EXPECT_EQ(occurrences(app_->log(), "Proxy overloaded:"), 1u) << app_->log();
    } else {
      EXPECT_LE(occurrences(app_->log(), "Proxy overloaded:"), 1u) << app_->log();
      rlimit raised{};
      ASSERT_EQ(::prlimit(app_->process().pid(), RLIMIT_NOFILE, nullptr, &raised), 0);
      EXPECT_GT(raised.rlim_cur, 256u) << "the limit wasn't raised";
    }
  }
}

TEST_F(ProxyAttackEndToEndTest, AnAddressOfABlockedNameIsBlockedHoweverWritten) {
  // The blocked name resolves, through a hosts file of the program's own, to an address of
  // this machine where an origin listens: loopback addresses are what hosts files answer for
  // names they block, so they never count.
  const std::optional<std::string> address = MainAppUnderTest::networkAddress();
  if (!address) GTEST_SKIP() << "this machine has no address but loopback";
  HttpOrigin origin(*address);
  ASSERT_NE(origin.port(), 0) << "no origin on " << *address;
  const std::vector<std::string> prefix = privateNames(*address + " blocked-name.test\n");
  if (prefix.empty()) GTEST_SKIP() << "no mount namespace can be made here";
  ASSERT_NO_FATAL_FAILURE(launch(blocking({"blocked-name.test"}), prefix));

  auto statusOf = [&](const std::string& bytes) {
    RawClient client(app_->proxyPort());
    if (!client.send(bytes)) return std::string("unsent");
    auto answer = client.read(Clock::now() + kAnswerBound, bytes.substr(0, bytes.find(' ')));
    return answer ? answer->second : std::string("unanswered");
  };
  // Until the name is looked up, a tunnel to a closed port of the address is tried (and fails).
  ASSERT_TRUE(eventually([&] { return statusOf(connect(*address + ":1")) == "403"; }))
      << app_->log();

  in_addr parsed{};
  ASSERT_EQ(::inet_pton(AF_INET, address->c_str(), &parsed), 1);
  const std::string port = std::to_string(origin.port());
  const std::string decimal = std::to_string(ntohl(parsed.s_addr));
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"the address", get(origin.url("/x"), origin.pattern()), "302"},
      {"as one number", get("http://" + decimal + ":" + port + "/x", decimal + ":" + port), "302"},
      {"IPv4-mapped IPv6", get("http://[::ffff:" + *address + "]:" + port + "/x", "h"), "302"},
      {"a tunnel", connect(origin.pattern()), "403"},
  };
  for (const auto& [name, bytes, status] : cases) EXPECT_EQ(statusOf(bytes), status) << name;
  EXPECT_EQ(origin.hits(), 0);
}

}  // namespace
}  // namespace zelto::testing
