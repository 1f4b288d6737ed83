#include "Platform/BundleInfo.h"

#include "Platform/FileSystem.h"
#include "Platform/PropertyList.h"

namespace zelto {

namespace {

std::optional<std::string> textValue(const nlohmann::json& plist, const char* key) {
  auto it = plist.find(key);
  if (it == plist.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
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
  auto bytes = fs.readFile(path::appendingComponent(contents, "Info.plist"));
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
  auto bytes = fs.readFile(path::appendingComponent(bundlePath, "Contents/Info.plist"));
  if (!bytes) return std::nullopt;
  auto plist = PropertyList::parse(*bytes);
  if (!plist || !plist->is_object()) return std::nullopt;
  return textValue(*plist, "CFBundleIdentifier");
}

BundleInfo BundleInfo::current(const FileSystem& fs) {
  return forExecutable(currentExecutablePath(), fs);
}

}  // namespace zelto
