// The tests never reach a system guard that may run on the machine: zeltoctl would hand it the
// tests' locks. Each test that wants a guard starts its own and points ZELTO_GUARD_SOCKET at it;
// everything else (and every program the tests start) finds none.
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

const bool kNoSystemGuard = [] {
  const std::string nowhere = "/nonexistent/zelto-tests-" + std::to_string(::getpid()) + ".sock";
  return ::setenv("ZELTO_GUARD_SOCKET", nowhere.c_str(), 1) == 0;
}();

}  // namespace
