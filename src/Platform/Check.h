// ZELTO_CHECK: a condition the program relies on (which thread runs it, a state that must
// hold). Unlike assert it is checked in every build: when it fails, the line "Check failed:
// <what> (<file>:<line>)" is logged as an error and written to standard error, and the process
// aborts, so a broken invariant
// shows up at once, in tests and in the field, instead of as a rare corruption later. Keep the
// conditions cheap.
//
// Any thread.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>

#include "Platform/Log.h"

namespace zelto::check {

[[noreturn]] inline void fail(const char* what,
                              std::source_location where = std::source_location::current()) {
  log::error("Check failed: {} ({}:{})", what, where.file_name(), where.line());
  if (auto* logger = spdlog::default_logger_raw()) logger->flush();
  std::fprintf(stderr, "Check failed: %s (%s:%u)\n", what, where.file_name(),
               static_cast<unsigned>(where.line()));
  std::abort();
}

}  // namespace zelto::check

#define ZELTO_CHECK(condition, what)              \
  do {                                            \
    if (!(condition)) ::zelto::check::fail(what); \
  } while (false)
