#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MainApp/HttpBodyFramer.h"
#include "MainApp/HttpResponseReader.h"

namespace zelto {
namespace {

// What the client gets of `stream` fed in `chunk`-byte pieces: each head as forwarded, then the
// body bytes as they came; and where the response ended.
struct Relayed {
  std::string sent;
  size_t end = std::string::npos;  // offset in the stream just past the response
  bool failed = false;
};

Relayed relay(std::string_view stream, size_t chunk, std::string_view method, bool closeAtEnd) {
  HttpResponseReader reader;
  reader.expect(method);
  Relayed out;
  size_t offset = 0;
  int status = 0;
  while (offset < stream.size() && out.end == std::string::npos) {
    std::string_view piece = stream.substr(offset, chunk);
    while (!piece.empty()) {
      auto fed = reader.feed(piece);
      if (!fed.ok()) {
        out.failed = true;
        return out;
      }
      if (fed->head) {
        status = fed->head->status;
        out.sent += fed->head->forClient(false);
      }
      out.sent += fed->body;
      piece.remove_prefix(fed->consumed);
      offset += fed->consumed;
      if (fed->complete && status >= 200) {
        out.end = offset;
        break;
      }
      if (fed->consumed == 0) break;
    }
  }
  if (out.end == std::string::npos && closeAtEnd) {
    auto fed = reader.finish();
    if (fed.ok() && fed->complete) {
      out.end = stream.size();
    } else {
      out.failed = true;
    }
  }
  return out;
}

// Interim answers pass before the final one; a stream that isn't HTTP, a length that isn't a
// number, a body cut short by the end of the connection fail.
TEST(HttpResponseReaderTest, FramesEachResponseAndRewritesItsHead) {
  constexpr size_t kFails = std::string::npos;
  struct Case {
    const char* name;
    std::string method;
    std::string stream;
    std::string sent;  // what the client gets
    size_t end;        // where the response ends in the stream
  };
  const std::string interim =
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "3;x=y\r\nabc\r\n0\r\nT: 1\r\n\r\n";
  const std::vector<Case> cases = {
      {"length", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcNEXT",
       "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", 41},
      {"chunked, trailer", "GET", chunked + "NEXT", chunked, chunked.size()},
      {"hop-by-hop dropped", "GET",
       "HTTP/1.1 204 No Content\r\nConnection: X-A, keep-alive\r\nX-A: 1\r\nKeep-Alive: t=5\r\n"
       "Proxy-Authenticate: x\r\nX-B: 2\r\n\r\n",
       "HTTP/1.1 204 No Content\r\nX-B: 2\r\n\r\n", 112},
      {"HEAD has no body", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\nNEXT",
       "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n", 39},
      {"304 has no body", "GET", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n",
       "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n", 48},
      {"until close", "GET", "HTTP/1.0 200 OK\r\n\r\nall of it", "HTTP/1.1 200 OK\r\n\r\nall of it",
       28},
      {"interim", "POST", interim, interim, interim.size()},
      {"not HTTP", "GET", "NOT HTTP\r\n\r\n", "", kFails},
      {"bad length", "GET", "HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\n", "", kFails},
      {"cut short", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", "", kFails},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{7}, c.stream.size()}) {
      const Relayed got = relay(c.stream, chunk, c.method, /*closeAtEnd=*/true);
      EXPECT_EQ(got.failed, c.end == kFails) << c.name << " chunk " << chunk;
      if (got.failed) continue;
      EXPECT_EQ(got.sent, c.sent) << c.name << " chunk " << chunk;
      EXPECT_EQ(got.end, c.end) << c.name << " chunk " << chunk;
    }
  }
}

TEST(HttpBodyFramerTest, TakesExactlyTheBody) {
  struct Case {
    HttpRequestHead::Body body;
    uint64_t length;
    std::string stream;
    size_t taken;  // -1: malformed
  };
  const std::vector<Case> cases = {
      {HttpRequestHead::Body::kNone, 0, "GET", 0},
      {HttpRequestHead::Body::kLength, 5, "helloGET", 5},
      {HttpRequestHead::Body::kChunked, 0, "5\r\nhello\r\n0\r\n\r\nGET", 15},
      {HttpRequestHead::Body::kChunked, 0, "2\r\nhi\r\n0\r\nX-T: 1\r\n\r\nGET", 20},
      {HttpRequestHead::Body::kChunked, 0, "zz\r\n", size_t(-1)},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, c.stream.size()}) {
      HttpRequestHead head;
      head.body = c.body;
      head.contentLength = c.length;
      HttpBodyFramer framer(head);
      size_t taken = 0;
      bool failed = false;
      for (size_t at = 0; at < c.stream.size() && !framer.done(); at += chunk) {
        auto got = framer.take(std::string_view(c.stream).substr(at, chunk));
        if (!got.ok()) {
          failed = true;
          break;
        }
        taken += *got;
        if (*got < std::min(chunk, c.stream.size() - at)) break;
      }
      if (c.taken == size_t(-1)) {
        EXPECT_TRUE(failed) << c.stream;
      } else {
        EXPECT_EQ(taken, c.taken) << c.stream << " chunk " << chunk;
        EXPECT_TRUE(framer.done()) << c.stream;
      }
    }
  }
}

}  // namespace
}  // namespace zelto
