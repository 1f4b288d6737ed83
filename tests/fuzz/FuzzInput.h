// FuzzInput: what every fuzz target shares: splitting an input into its parts, failing loudly
// when a property is broken, and keeping the program's log quiet.
//
// A target is one file with LLVMFuzzerTestOneInput; it is linked either with libFuzzer (the
// fuzz build) or with ReplayMain.cpp, which runs it on every file of its corpus and of its
// regressions (a ctest). Single-threaded, as libFuzzer calls it.
#pragma once

#include <spdlog/spdlog.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace zelto::fuzz {

inline std::string_view bytesOf(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The text up to the first newline, and the text after it (empty when there is none).
inline std::pair<std::string_view, std::string_view> firstLineAndRest(std::string_view text) {
  size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return {text, {}};
  return {text.substr(0, newline), text.substr(newline + 1)};
}

// Ends the run as a finding when `holds` is false.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz: broken: %s\n", what);
  std::abort();
}

// Nothing is logged (a load logs every file it looks at).
inline void quietLog() { spdlog::set_level(spdlog::level::off); }

}  // namespace zelto::fuzz
