// HttpResponseReader: the responses an origin sends on one upstream connection of the filtering
// proxy, read by libhttp-parser as they arrive: each head is handed over (to be rewritten for
// the client), then the body is framed as the head says (Content-Length, chunked, or until the
// origin closes), so that the proxy knows where each response ends and the next request may go.
//
// feed() stops at the two boundaries: after a head, and after the last byte of a response. The
// caller forwards the body bytes as they were (`Fed::body`, a view into its input) and feeds the
// rest again. Interim responses (1xx but 101) are whole responses of their own; the final one
// follows on the same reader.
//
// Bounded: the head's size (libhttp-parser's 80 KB) and its number of fields. Owns its parser
// state; one upstream connection, the loop's thread.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

struct HttpResponseHead {
  int status = 0;
  int versionMajor = 1;
  int versionMinor = 1;
  std::string reason;
  std::vector<std::pair<std::string, std::string>> headers;  // as received, values trimmed
  // Whether the origin keeps the connection open after this response.
  bool keepAlive = true;
  // The body ends only when the origin closes the connection.
  bool endsAtClose = false;

  // The head as the client gets it: the same status line and fields, without the hop-by-hop
  // ones (those the Connection field names too), and "Connection: close" when `close`.
  std::string forClient(bool close) const;
};

class HttpResponseReader {
 public:
  static constexpr size_t kMaxHeaders = 200;

  struct Fed {
    size_t consumed = 0;                   // bytes of the input taken
    std::optional<HttpResponseHead> head;  // a head ended within them
    std::string_view body;                 // body bytes among them, to forward as they are
    bool complete = false;                 // a response ended with them
  };

  HttpResponseReader();
  ~HttpResponseReader();
  HttpResponseReader(const HttpResponseReader&) = delete;
  HttpResponseReader& operator=(const HttpResponseReader&) = delete;

  // Readies the reader for the response to a request with `method` (HEAD has no body).
  void expect(std::string_view method);
  // Takes in bytes up to the next boundary. A failure is final.
  Result<Fed> feed(std::string_view bytes);
  // The origin closed: completes a response that ends at close; fails when one was cut short.
  Result<Fed> finish();
  // Whether a response has started and not ended.
  bool inResponse() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zelto
