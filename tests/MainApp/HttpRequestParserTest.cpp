#include <gtest/gtest.h>

#include <string>

#include "MainApp/HttpRequestParser.h"

namespace zelto {
namespace {

using Body = HttpRequestHead::Body;
using Headers = std::vector<std::pair<std::string, std::string>>;

// The fields a head is read into, to compare at once: method, target, minor version, header
// fields, framing, CONNECT, keep-alive.
auto fieldsOf(const HttpRequestHead& head) {
  return std::tie(head.method, head.target, head.versionMinor, head.headers, head.body,
                  head.isConnect, head.keepAlive);
}

// Feeding `pieces` in turn: the status of the first failure (-2 when it gives no reason), 0
// when a head came whole, -1 when more is wanted.
int outcomeOf(HttpRequestParser::Limits limits, const std::vector<std::string>& pieces) {
  HttpRequestParser parser(limits);
  for (const std::string& piece : pieces) {
    auto fed = parser.feed(piece);
    if (!fed.ok()) return fed.status().message().empty() ? -2 : parser.errorStatus();
    if (fed->head) return 0;
  }
  return -1;
}

TEST(HttpRequestParserTest, AbsoluteFormGetSplitAtEveryByte) {
  const std::string request =
      "GET http://example.com:8080/a/b?q=1 HTTP/1.1\r\n"
      "Host: example.com:8080\r\n"
      "X-Empty:\r\n"
      "Accept:  text/html \r\n"
      "\r\n";
  for (size_t split = 0; split <= request.size(); ++split) {
    SCOPED_TRACE(split);
    HttpRequestParser parser;
    auto first = parser.feed(std::string_view(request).substr(0, split));
    ASSERT_TRUE(first.ok()) << first.status().message();
    ASSERT_EQ(first->head.has_value(), split == request.size());
    if (!first->head) {
      auto second = parser.feed(std::string_view(request).substr(split));
      ASSERT_TRUE(second.ok()) << second.status().message();
      first = std::move(second);
    }
    ASSERT_TRUE(first->head.has_value());
    EXPECT_EQ(fieldsOf(*first->head),
              std::make_tuple(
                  "GET", "http://example.com:8080/a/b?q=1", 1,
                  Headers{{"Host", "example.com:8080"}, {"X-Empty", ""}, {"Accept", "text/html"}},
                  Body::kNone, false, true));
    EXPECT_TRUE(first->rest.empty());
  }
}

TEST(HttpRequestParserTest, ConnectLeavesTheTunnelsBytesAndPipelinedRequestsFollow) {
  HttpRequestParser parser;
  const std::string tls = std::string("\x16\x03\x01\x00\x05hello\0\r\n", 13);
  // `rest` views the bytes fed: they must outlive it.
  const std::string bytes =
      "CONNECT example.com:443 HTTP/1.1\r\nHost: example.com:443\r\n\r\n" + tls;
  auto connect = parser.feed(bytes);
  ASSERT_TRUE(connect.ok() && connect->head) << connect.status().message();
  EXPECT_TRUE(connect->head->isConnect);
  EXPECT_TRUE(connect->head->upgrade);
  EXPECT_EQ(connect->head->target, "example.com:443");
  EXPECT_EQ(connect->rest, tls);

  // Two requests in one chunk: the second is left for the next feed, and parses as well.
  HttpRequestParser pipelined;
  auto first = pipelined.feed(
      "GET http://a.example/ HTTP/1.1\r\nHost: a.example\r\n\r\n"
      "HEAD http://b.example/x HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(first.ok() && first->head);
  EXPECT_EQ(first->head->target, "http://a.example/");
  auto second = pipelined.feed(first->rest);
  ASSERT_TRUE(second.ok() && second->head) << second.status().message();
  EXPECT_EQ(fieldsOf(*second->head),
            std::make_tuple("HEAD", "http://b.example/x", 0, Headers{}, Body::kNone, false, false));
  EXPECT_TRUE(second->rest.empty());
}

TEST(HttpRequestParserTest, AnnouncedBodiesAreLeftUnread) {
  HttpRequestParser parser;
  auto post = parser.feed(
      "POST http://a.example/f HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloGET / HTTP/1.1\r\n");
  ASSERT_TRUE(post.ok() && post->head);
  EXPECT_EQ(post->head->body, Body::kLength);
  EXPECT_EQ(post->head->contentLength, 5u);
  EXPECT_EQ(post->rest, "helloGET / HTTP/1.1\r\n");

  auto chunked = HttpRequestParser().feed(
      "POST http://a.example/f HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n");
  ASSERT_TRUE(chunked.ok() && chunked->head);
  EXPECT_EQ(chunked->head->body, Body::kChunked);
  EXPECT_EQ(chunked->rest, "5\r\nhello\r\n");

  // Lengths that can't be trusted: unknown coding, or both framings at once.
  for (const char* framing :
       {"Transfer-Encoding: gzip\r\n", "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n",
        "Content-Length: 3\r\nContent-Length: 4\r\n", "Content-Length: -1\r\n"}) {
    EXPECT_EQ(
        outcomeOf({}, {std::string("POST http://a.example/ HTTP/1.1\r\n") + framing + "\r\n"}), 400)
        << framing;
  }
}

TEST(HttpRequestParserTest, BoundsAreEnforcedWithTheirStatus) {
  HttpRequestParser::Limits limits;
  limits.maxHeadBytes = 200;
  limits.maxHeaders = 3;
  limits.maxTargetBytes = 40;
  const std::string line = "GET http://a.example/ HTTP/1.1\r\n";

  // A head of exactly the limit passes; one byte more fails, however it is chunked.
  const std::string filler(200 - line.size() - 7, 'x');
  ASSERT_EQ((line + "A: " + filler + "\r\n\r\n").size(), 200u);
  EXPECT_EQ(outcomeOf(limits, {line + "A: " + filler + "\r\n\r\n"}), 0);
  EXPECT_EQ(outcomeOf(limits, {line + "A: " + filler}), -1);
  EXPECT_EQ(outcomeOf(limits, {line + "A: " + filler, "x\r\n\r\n"}), 431);
  // Never completed: a head that keeps growing fails rather than buffering forever.
  std::vector<std::string> endless(100, "X-Long: yyyy");
  endless.insert(endless.begin(), line);
  EXPECT_EQ(outcomeOf(limits, endless), 431);
  EXPECT_EQ(outcomeOf(limits, {line + "A: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n"}), 431);
  EXPECT_EQ(outcomeOf(limits, {"GET http://a.example/" + std::string(30, 'p')}), 414);
  // A failure is final.
  HttpRequestParser failed(limits);
  EXPECT_FALSE(failed.feed("GET http://a.example/" + std::string(30, 'p')).ok());
  EXPECT_EQ(failed.feed(line + "\r\n").status().message(), "request target too long");
}

TEST(HttpRequestParserTest, MalformedHeadsFailWith400) {
  using namespace std::string_literals;
  for (const std::string& bad :
       {"GET\r\n\r\n"s, "GET http://a.example/ HTTX/1.1\r\n\r\n"s,
        "G(T http://a.example/ HTTP/1.1\r\n\r\n"s, "GET http://a.ex ample/ HTTP/1.1\r\n\r\n"s,
        "CONNECT example.com HTTP/1.1\r\n\r\n"s,
        "CONNECT http://example.com:443/ HTTP/1.1\r\n\r\n"s,
        "GET http://a.example/ HTTP/1.1\r\nNo colon\r\n\r\n"s,
        "GET http://a.example/ HTTP/1.1\r\nBad name: 1\r\n\r\n"s,
        "GET http://a.example/\0x HTTP/1.1\r\n\r\n"s,
        "GET http://a.example/ HTTP/1.1\r\nX\0: 1\r\n\r\n"s,
        "GET http://a.example/ HTTP/1.1\r\nX: a\0b\r\n\r\n"s, "\0\0\0\0"s}) {
    EXPECT_EQ(outcomeOf({}, {bad}), 400) << bad;
  }
  EXPECT_EQ(outcomeOf({}, {"GET http://a.example/ HTTP/2.0\r\n\r\n"}), 505);
}

}  // namespace
}  // namespace zelto
