#include "Platform/CommandLineProgram.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace zelto {

namespace {

std::string_view fileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The loader's options that take the next argument as their value.
constexpr std::array<std::string_view, 7> kLoaderOptionsWithValue = {
    "--library-path",         "--preload",          "--argv0", "--audit", "--inhibit-rpath",
    "--glibc-hwcaps-prepend", "--glibc-hwcaps-mask"};
// The loader's options after which it runs nothing.
constexpr std::array<std::string_view, 5> kLoaderOptionsRunningNothing = {
    "--help", "--version", "--list-tunables", "--list-diagnostics", "--verify"};

}  // namespace

bool CommandLineProgram::isInterpreterName(const std::string& executablePath) {
  static constexpr std::array<std::string_view, 23> kNames = {
      "sh",    "ash",  "bash", "dash",   "zsh",   "ksh",  "ksh93",   "mksh",
      "pdksh", "yash", "posh", "fish",   "csh",   "tcsh", "busybox", "python",
      "perl",  "ruby", "node", "nodejs", "tclsh", "lua",  "php"};
  std::string_view name = fileName(executablePath);
  // A version after the name: python3, python3.11, lua5.4, perl5.36.0.
  while (!name.empty() &&
         (std::isdigit(static_cast<unsigned char>(name.back())) || name.back() == '.')) {
    name.remove_suffix(1);
  }
  return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

bool CommandLineProgram::isLoaderName(const std::string& executablePath) {
  const std::string_view name = fileName(executablePath);
  if (name.starts_with("ld.so") || name.starts_with("ld64.so")) return true;
  return name.starts_with("ld-") && name.find(".so") != std::string_view::npos;
}

std::vector<std::string> CommandLineProgram::commonLoaderPaths() {
  return {"/lib64/ld-linux-x86-64.so.2",
          "/lib/ld-linux-aarch64.so.1",
          "/lib/ld-linux-armhf.so.3",
          "/lib/ld-linux.so.2",
          "/lib64/ld64.so.2",
          "/lib/ld64.so.1",
          "/lib/ld-linux-riscv64-lp64d.so.1"};
}

std::vector<std::string> CommandLineProgram::scriptCandidates(
    const std::vector<std::string>& arguments) {
  std::vector<std::string> candidates;
  bool options = true;
  for (size_t i = 1; i < arguments.size() && candidates.size() < 2; ++i) {
    const std::string& argument = arguments[i];
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (options && argument.starts_with('-')) continue;
    options = false;
    if (argument.empty()) break;
    candidates.push_back(argument);
    // Only an interpreter named first runs the next one ("busybox sh script"); otherwise the
    // next argument is the script's own, and the program it names may merely be read.
    if (!isInterpreterName(argument)) break;
  }
  return candidates;
}

std::optional<size_t> CommandLineProgram::loaderProgramIndex(
    const std::vector<std::string>& arguments) {
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") return i + 1 < arguments.size() ? std::optional(i + 1) : std::nullopt;
    if (!argument.starts_with("--")) return i;
    if (std::find(kLoaderOptionsRunningNothing.begin(), kLoaderOptionsRunningNothing.end(),
                  argument) != kLoaderOptionsRunningNothing.end()) {
      return std::nullopt;
    }
    if (std::find(kLoaderOptionsWithValue.begin(), kLoaderOptionsWithValue.end(), argument) !=
        kLoaderOptionsWithValue.end()) {
      ++i;  // its value
    }
    // Any other option (--inhibit-cache, --list, one this list doesn't know) stands alone.
  }
  return std::nullopt;
}

std::string CommandLineProgram::absoluteAgainst(const std::string& path,
                                                const std::string& workingDirectory) {
  if (path.empty()) return "";
  if (path.starts_with('/')) return path;
  if (workingDirectory.empty()) return "";
  return workingDirectory + (workingDirectory.ends_with('/') ? "" : "/") + path;
}

}  // namespace zelto
