// Fuzz target: the proxy's request parser. The first byte sets the size of the chunks (1 to
// 256) the rest of the input arrives in; the rest is the bytes a client sends.
//
// After each head the bytes that follow are fed again as the next request. Fed in chunks or
// whole, the parser must yield the same heads and end the same way (a failure, or none), every
// head within the bounds, and what follows a head must be the input's own bytes.
#include <string>
#include <vector>

#include "MainApp/HttpRequestParser.h"
#include "fuzz/FuzzInput.h"

namespace {

using zelto::HttpRequestHead;
using zelto::HttpRequestParser;

struct Outcome {
  std::vector<std::string> heads;  // each head's method, target, headers and framing
  std::string failure;
  int status = 0;
};

std::string describe(const HttpRequestHead& head) {
  std::string text =
      head.method + ' ' + head.target + ' ' + head.host + ':' + std::to_string(head.port) + ' ' +
      std::to_string(head.versionMajor) + '.' + std::to_string(head.versionMinor) + ' ' +
      std::to_string(static_cast<int>(head.body)) + ' ' + std::to_string(head.contentLength) +
      (head.upgrade ? " up" : "") + (head.keepAlive ? " ka" : "");
  for (const auto& [name, value] : head.headers) text += '\n' + name + ": " + value;
  return text;
}

Outcome run(std::string_view stream, size_t chunkSize) {
  const HttpRequestParser::Limits limits{
      .maxHeadBytes = 1024, .maxHeaders = 8, .maxTargetBytes = 128};
  HttpRequestParser parser(limits);
  Outcome outcome;
  size_t offset = 0;
  while (offset < stream.size()) {
    std::string_view chunk = stream.substr(offset, chunkSize);
    auto fed = parser.feed(chunk);
    if (!fed.ok()) {
      outcome.failure = fed.status().message();
      outcome.status = parser.errorStatus();
      zelto::fuzz::require(!outcome.failure.empty(), "a failure has a reason");
      zelto::fuzz::require(outcome.status >= 400 && outcome.status <= 505, "a failure's status");
      return outcome;
    }
    if (!fed->head) {
      zelto::fuzz::require(fed->rest.empty(), "without a head every byte is taken");
      offset += chunk.size();
      continue;
    }
    const HttpRequestHead& head = *fed->head;
    zelto::fuzz::require(head.headers.size() <= limits.maxHeaders, "header fields bounded");
    zelto::fuzz::require(head.target.size() <= limits.maxTargetBytes, "target bounded");
    zelto::fuzz::require(!head.method.empty() && !head.target.empty(), "method and target");
    zelto::fuzz::require(fed->rest.data() + fed->rest.size() == chunk.data() + chunk.size(),
                         "what follows a head is the end of the chunk");
    outcome.heads.push_back(describe(head));
    offset += chunk.size() - fed->rest.size();
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  if (size == 0) return 0;
  const size_t chunkSize = 1 + data[0];
  const std::string_view stream = fuzz::bytesOf(data + 1, size - 1);
  const Outcome chunked = run(stream, chunkSize);
  const Outcome whole = run(stream, stream.size() + 1);
  fuzz::require(chunked.heads == whole.heads, "the same heads, chunked or whole");
  // A head with several faults may be refused for a different one of them: the parser tells of
  // a target or a header field's name as far as it has read it, which depends on the chunks.
  fuzz::require(chunked.failure.empty() == whole.failure.empty(),
                "the same ending, chunked or whole");
  return 0;
}
