#include "Platform/FileSystem.h"

#include <unicode/ustring.h>

namespace zelto {

bool FileSystem::isDirectory(const std::string& path) const {
  auto st = inspect(path);
  return st.ok() && st->kind == FileStatus::Kind::kDirectory;
}

bool FileSystem::isRegularFile(const std::string& path) const {
  auto st = inspect(path);
  return st.ok() && st->kind == FileStatus::Kind::kRegular;
}

Result<std::string> FileSystem::readUTF8File(const std::string& path, uint64_t maxBytes) const {
  Result<std::string> contents = readFile(path, maxBytes);
  if (!contents.ok()) return contents;
  if (!isValidUTF8(*contents)) {
    return Status::failure("The file " + path + " is not valid UTF-8 text.");
  }
  return contents;
}

bool isValidUTF8(const std::string& text) {
  if (text.empty()) return true;
  // A pre-flight conversion (no output buffer) still checks every sequence.
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
  u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
  return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING ||
         U_SUCCESS(status);
}

namespace path {

std::string appendingComponent(const std::string& base, const std::string& component) {
  if (base.empty()) return component;
  std::string trimmed = component;
  while (!trimmed.empty() && trimmed.front() == '/') trimmed.erase(trimmed.begin());
  if (base.back() == '/') return base + trimmed;
  return base + "/" + trimmed;
}

std::string deletingLastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  auto slash = p.rfind('/');
  if (slash == std::string::npos || p == "/") return p;
  return p.substr(slash + 1);
}

}  // namespace path
}  // namespace zelto
