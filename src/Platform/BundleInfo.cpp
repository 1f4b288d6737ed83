#include "Platform/BundleInfo.h"

#include <mutex>

#include "Platform/FileSystem.h"
#include "Platform/PropertyList.h"

namespace zelto {

namespace {

std::optional<std::string> textValue(const nlohmann::json& plist, const char* key) {
  auto it = plist.find(key);
  if (it == plist.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// B/Contents/Info.plist for an executable at B/Contents/MacOS/NAME; nothing outside a bundle.
std::optional<std::string> infoPlistPath(const std::string& executablePath) {
  std::string directory = path::deletingLastComponent(executablePath);
  std::string contents = path::deletingLastComponent(directory);
  if (path::lastComponent(directory) != "MacOS" || path::lastComponent(contents) != "Contents") {
    return std::nullopt;
  }
  if (path::deletingLastComponent(contents).empty()) return std::nullopt;
  return path::appendingComponent(contents, "Info.plist");
}

}  // namespace

BundleInfo BundleInfo::forExecutable(const std::string& executablePath, const FileSystem& fs) {
  BundleInfo info;
  info.executablePath = executablePath;
  std::string directory = path::deletingLastComponent(executablePath);
  info.bundlePath = directory;

  std::string contents = path::deletingLastComponent(directory);
  if (path::lastComponent(directory) != "MacOS" || path::lastComponent(contents) != "Contents") {
    return info;
  }
  std::string candidate = path::deletingLastComponent(contents);
  auto bytes =
      fs.readFile(path::appendingComponent(contents, "Info.plist"), PropertyList::kMaxBytes);
  if (candidate.empty() || !bytes) return info;
  auto plist = PropertyList::parse(*bytes);
  if (!plist || !plist->is_object()) return info;

  info.bundlePath = candidate;
  info.bundleIdentifier = textValue(*plist, "CFBundleIdentifier");
  info.executableName = textValue(*plist, "CFBundleExecutable");
  info.shortVersion = textValue(*plist, "CFBundleShortVersionString");
  return info;
}

std::optional<std::string> BundleInfo::identifierOfBundleAt(const std::string& bundlePath,
                                                            const FileSystem& fs) {
  auto bytes = fs.readFile(path::appendingComponent(bundlePath, "Contents/Info.plist"),
                           PropertyList::kMaxBytes);
  if (!bytes) return std::nullopt;
  auto plist = PropertyList::parse(*bytes);
  if (!plist || !plist->is_object()) return std::nullopt;
  return textValue(*plist, "CFBundleIdentifier");
}

BundleInfo BundleInfo::current(const FileSystem& fs) {
  // The executable's path is looked up once: the process belongs to the bundle it was started
  // from for its whole life (a bundle moved or replaced while it runs is taken up by the next
  // start, like the code itself). The Info.plist can be rewritten in place by an update, so it
  // is parsed again whenever its status changes; a stat is all an unchanged one costs.
  static const std::string executable = currentExecutablePath();
  static const std::optional<std::string> plist = infoPlistPath(executable);
  struct Parsed {
    std::optional<FileStatus> plistStatus;
    BundleInfo info;
  };
  static std::mutex mutex;
  static std::optional<Parsed> parsed;

  std::optional<FileStatus> status = plist ? fs.inspect(*plist).toOptional() : std::nullopt;
  std::lock_guard<std::mutex> lock(mutex);
  if (!parsed || !isSameFileVersion(parsed->plistStatus, status)) {
    // Status first, then the read: a plist replaced in between shows at the next call.
    parsed = Parsed{status, forExecutable(executable, fs)};
  }
  return parsed->info;
}

}  // namespace zelto
