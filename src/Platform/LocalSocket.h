// LocalSocket: one request and its answer over a Unix-domain stream socket, the way a program
// talks to a local service: connect, send the request whole, close the sending half, read the
// answer to its end.
//
// Class operations only; any thread. The call blocks for at most `timeoutSeconds` in all.
#pragma once

#include <cstdint>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class LocalSocket {
 public:
  // The answer to `request` from the service listening at `path`. Nothing listening there (no
  // socket, or one nobody accepts on) is an unavailable failure; an answer longer than
  // `maxAnswerBytes`, or none before the time runs out, is an I/O failure.
  static Result<std::string> exchange(const std::string& path, const std::string& request,
                                      double timeoutSeconds, uint64_t maxAnswerBytes);
};

}  // namespace zelto
