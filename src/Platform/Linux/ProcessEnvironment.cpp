// The real environment and password database behind Directories.
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "Platform/Directories.h"

namespace zelto {

namespace {

std::optional<std::string> readEnvironment(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::string> passwordDatabaseHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

}  // namespace

Directories::Directories(FileSystem& fs) : Directories(fs, readEnvironment, passwordDatabaseHome) {}

Directories::Directories(FileSystem& fs, EnvironmentReader environment, HomeLookup passwordHome)
    : fs_(fs), environment_(std::move(environment)), passwordHome_(std::move(passwordHome)) {}

}  // namespace zelto
