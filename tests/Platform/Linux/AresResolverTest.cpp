#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <tuple>

#include "Platform/Linux/AresResolver.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeClock.h"
#include "Support/RunLoopUntil.h"

namespace zelto {
namespace {

using Addresses = Result<std::vector<SocketAddress>>;

// A name server on a loopback UDP port, served by the test's loop: it answers A and AAAA
// questions from its table with the record's TTL, "no such name" for names it doesn't know, and
// nothing at all for silent names. Counts the questions per name.
class TestNameServer {
 public:
  struct Record {
    std::vector<std::string> v4;
    std::vector<std::string> v6;
    uint32_t ttl = 60;
    bool silent = false;
  };

  explicit TestNameServer(UvRunLoop& loop)
      : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot bind the test name server";
      return;
    }
    port_ = ntohs(address.sin_port);
    auto watch = loop.watchReadable(socket_.get(), [this] { onReadable(); });
    if (watch.ok()) watch_ = std::move(*watch);
  }

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  void set(const std::string& name, Record record) { records_[name] = std::move(record); }
  size_t questions(const std::string& name) const {
    return questions_.contains(name) ? questions_.at(name) : 0;
  }

 private:
  void onReadable() {
    uint8_t query[512];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof(from);
    for (;;) {
      const ssize_t size = ::recvfrom(socket_.get(), query, sizeof(query), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (size <= 0) return;
      answer(query, static_cast<size_t>(size), reinterpret_cast<sockaddr*>(&from), fromLength);
    }
  }

  void answer(const uint8_t* query, size_t size, const sockaddr* to, socklen_t toLength) {
    if (size < 12) return;
    size_t at = 12;
    std::string name;
    while (at < size && query[at] != 0) {
      const size_t label = query[at];
      if (at + 1 + label > size) return;
      if (!name.empty()) name += '.';
      name.append(reinterpret_cast<const char*>(query) + at + 1, label);
      at += 1 + label;
    }
    if (at + 5 > size) return;
    const int type = query[at + 1] << 8 | query[at + 2];
    at += 5;  // the root label, type and class
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ++questions_[name];
    auto record = records_.find(name);
    if (record != records_.end() && record->second.silent) return;

    std::string reply(reinterpret_cast<const char*>(query), at);  // header and question
    reply[2] = static_cast<char>(0x84 | (query[2] & 0x01));       // an authoritative answer
    reply[3] = static_cast<char>(record == records_.end() ? 0x83 : 0x80);  // NXDOMAIN or none
    std::fill(reply.begin() + 6, reply.begin() + 12, '\0');
    static const Record kNone;
    const Record& found = record == records_.end() ? kNone : record->second;
    const bool v6 = type == 28;
    const uint32_t length = v6 ? 16 : 4;
    for (const std::string& ip : v6 ? found.v6 : found.v4) {
      uint8_t data[16];
      if (inet_pton(v6 ? AF_INET6 : AF_INET, ip.c_str(), data) != 1) continue;
      // A pointer to the question's name, the type, class IN, the TTL and the address.
      for (uint32_t half : {0xc00cu, static_cast<uint32_t>(type), 1u, found.ttl >> 16,
                            found.ttl & 0xffff, length}) {
        reply += {static_cast<char>(half >> 8), static_cast<char>(half)};
      }
      reply.append(reinterpret_cast<const char*>(data), length);
      ++reply[7];  // the count of answers
    }
    ::sendto(socket_.get(), reply.data(), reply.size(), 0, to, toLength);
  }

  FileDescriptor socket_;
  int port_ = 0;
  std::unique_ptr<Registration> watch_;
  std::map<std::string, Record> records_;
  std::map<std::string, size_t> questions_;
};

class AresResolverTest : public ::testing::Test {
 protected:
  AresResolverTest() {
    server.set("dual.test", {{"192.0.2.1"}, {"2001:db8::1"}, 60});
    server.set("mixed.case.test", {{"192.0.2.2", "192.0.2.3"}, {}, 60});
    server.set("slow.test", {{}, {}, 60, true});
  }

  // A resolver asking the test's name server, and only it, once per question.
  std::unique_ptr<AresResolver> makeResolver(AresResolver::Options options = {}) {
    options.servers = server.address();
    if (options.timeoutMilliseconds == 0) options.timeoutMilliseconds = 5000;
    options.tries = 1;
    auto resolver = AresResolver::create(loop, clock, options);
    EXPECT_TRUE(resolver.ok()) << resolver.status().message();
    return resolver.ok() ? std::move(*resolver) : nullptr;
  }

  // Resolves `host` and turns the loop until the answer comes; also checks that it didn't come
  // inside the call.
  Addresses resolveNow(HostResolver& resolver, const std::string& host, int port = 80) {
    std::optional<Addresses> answer;
    auto handle =
        resolver.resolve(host, port, [&](Addresses result) { answer = std::move(result); });
    EXPECT_FALSE(answer.has_value()) << host << ": answered inside resolve";
    if (!testing::runLoopUntil(loop, [&] { return answer.has_value(); })) {
      return Status::failure("no answer for " + host);
    }
    return std::move(*answer);
  }

  static std::vector<std::string> texts(const Addresses& addresses) {
    std::vector<std::string> out;
    if (!addresses.ok()) return {"failed: " + addresses.status().message()};
    for (const SocketAddress& address : *addresses) out.push_back(address.toString());
    std::sort(out.begin(), out.end());
    return out;
  }

  FakeClock clock;
  UvRunLoop loop;
  TestNameServer server{loop};
};

TEST_F(AresResolverTest, AnswersNamesAndNumericAddresses) {
  // The host and port asked for, the answer, and the lookups handed to c-ares.
  const std::tuple<std::string, int, std::vector<std::string>, size_t> cases[] = {
      {"dual.test", 443, {"192.0.2.1:443", "[2001:db8::1]:443"}, 1},
      {"Mixed.CASE.test", 8080, {"192.0.2.2:8080", "192.0.2.3:8080"}, 1},
      {"192.0.2.7", 80, {"192.0.2.7:80"}, 0},
      {"[2001:db8::7]", 80, {"[2001:db8::7]:80"}, 0},
      {"2001:db8::8", 22, {"[2001:db8::8]:22"}, 0},
  };
  for (const auto& [host, port, expected, lookups] : cases) {
    auto resolver = makeResolver();
    EXPECT_EQ(texts(resolveNow(*resolver, host, port)), expected) << host;
    EXPECT_EQ(resolver->lookupsStarted(), lookups) << host;
  }
}

TEST_F(AresResolverTest, ResolvesLocalhostFromTheHostsFile) {
  auto resolver = makeResolver();
  Addresses addresses = resolveNow(*resolver, "localhost", 8919);
  ASSERT_TRUE(addresses.ok()) << addresses.status().message();
  ASSERT_FALSE(addresses->empty());
  for (const SocketAddress& address : *addresses) {
    EXPECT_TRUE(address.isLoopback()) << address.toString();
    EXPECT_EQ(address.port(), 8919);
  }
  EXPECT_EQ(server.questions("localhost"), 0u);
}

TEST_F(AresResolverTest, FailuresNameTheHostAndTheCause) {
  const std::tuple<std::string, int, std::string> cases[] = {
      {"nothing.invalid", 80, "cannot resolve nothing.invalid: Domain name not found"},
      {"slow.test", 80, "cannot resolve slow.test: Timeout while contacting DNS servers"},
      {"", 80, "cannot resolve : not a host name"},
      {"two words.test", 80, "cannot resolve two?words.test: not a host name"},
      {std::string("nul\0.test", 9), 80, "cannot resolve nul?.test: not a host name"},
      {std::string(300, 'a'), 80, "not a host name"},
      {"dual.test", 70000, "cannot resolve dual.test: port out of range: 70000"},
  };
  AresResolver::Options options;
  options.timeoutMilliseconds = 100;
  auto resolver = makeResolver(options);
  for (const auto& [host, port, message] : cases) {
    Addresses addresses = resolveNow(*resolver, host, port);
    ASSERT_FALSE(addresses.ok()) << message;
    EXPECT_NE(addresses.status().message().find(message), std::string::npos)
        << addresses.status().message();
  }
  EXPECT_EQ(resolver->lookupsStarted(), 2u) << "only the two names were looked up";
}

TEST_F(AresResolverTest, AnswersAreKeptForTheirTtlWithinBounds) {
  server.set("minute.test", {{"192.0.2.10"}, {}, 60});
  server.set("day.test", {{"192.0.2.11"}, {}, 86400});
  server.set("zero.test", {{"192.0.2.12"}, {}, 0});
  // Asked again how many seconds later, and whether the name server is.
  const std::tuple<std::string, double, bool> cases[] = {
      {"minute.test", 59, false}, {"minute.test", 61, true},  // its TTL
      {"day.test", 299, false},   {"day.test", 301, true},    // capped
      {"zero.test", 4, false},    {"zero.test", 6, true},     // floored
      {"gone.invalid", 4, false}, {"gone.invalid", 6, true},  // failures, briefly
  };
  for (const auto& [host, later, askedAgain] : cases) {
    auto resolver = makeResolver();
    const Addresses first = resolveNow(*resolver, host);
    clock.advance(later);
    const Addresses second = resolveNow(*resolver, host, 443);
    EXPECT_EQ(resolver->lookupsStarted(), askedAgain ? 2u : 1u) << host << " +" << later;
    EXPECT_EQ(first.ok(), second.ok()) << host;
    if (second.ok()) {
      EXPECT_EQ(second->front().port(), 443) << "a cached answer takes the port";
    }
  }
}

TEST_F(AresResolverTest, OldestNamesMakeRoomInTheCache) {
  AresResolver::Options options;
  options.cacheEntries = 2;
  auto resolver = makeResolver(options);
  for (const char* host : {"dual.test", "mixed.case.test", "nothing.invalid", "nothing.invalid"}) {
    resolveNow(*resolver, host).status().ignoreError();
  }
  EXPECT_EQ(resolver->cachedNames(), 2u);
  EXPECT_EQ(resolver->lookupsStarted(), 3u) << "the newest is still cached";
  resolveNow(*resolver, "dual.test").status().ignoreError();
  EXPECT_EQ(resolver->lookupsStarted(), 4u) << "the oldest was dropped";
}

// Lookups of one name at once share one query; a cancelled one never answers.
TEST_F(AresResolverTest, LookupsOfOneNameShareOneQueryAndACancelledOneNeverAnswers) {
  auto resolver = makeResolver();
  bool cancelledRan = false;
  bool selfCancelledRan = false;
  std::optional<Addresses> kept;
  auto cancelled = resolver->resolve("dual.test", 80, [&](Addresses) { cancelledRan = true; });
  std::unique_ptr<Registration> selfCancelled;
  selfCancelled = resolver->resolve("dual.test", 80, [&](Addresses) {
    selfCancelledRan = true;
    selfCancelled.reset();  // a handle may go inside its own callback
  });
  auto handle = resolver->resolve("DUAL.test", 81, [&](Addresses a) { kept = std::move(a); });
  cancelled.reset();
  ASSERT_TRUE(testing::runLoopUntil(loop, [&] { return kept.has_value(); }));
  EXPECT_FALSE(cancelledRan);
  EXPECT_TRUE(selfCancelledRan);
  EXPECT_EQ(texts(*kept), (std::vector<std::string>{"192.0.2.1:81", "[2001:db8::1]:81"}));
  EXPECT_EQ(resolver->lookupsStarted(), 1u);
  EXPECT_EQ(server.questions("dual.test"), 2u) << "one A and one AAAA question";

  // A literal's answer is posted: cancelling before the loop turns drops it too.
  auto literal = resolver->resolve("192.0.2.1", 80, [&](Addresses) { cancelledRan = true; });
  literal.reset();
  // And a lookup under way when the resolver goes never answers, even late.
  auto orphan = resolver->resolve("slow.test", 80, [&](Addresses) { cancelledRan = true; });
  resolver.reset();
  bool turned = false;
  loop.post([&] { turned = true; });
  ASSERT_TRUE(testing::runLoopUntil(loop, [&] { return turned; }));
  orphan.reset();
  EXPECT_FALSE(cancelledRan);
}

}  // namespace
}  // namespace zelto
