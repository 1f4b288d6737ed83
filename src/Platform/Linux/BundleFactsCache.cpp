#include "Platform/Linux/BundleFactsCache.h"

#include <sys/stat.h>

#include "Platform/PropertyList.h"

namespace zelto {

std::optional<BundleFactsCache::FileVersion> BundleFactsCache::regularFileVersion(
    const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileVersion{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<uint64_t>(st.st_size),
                     static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool BundleFactsCache::isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

const BundleFactsCache::Facts* BundleFactsCache::factsOf(const std::string& bundlePath) {
  std::string infoPath = path::appendingComponent(bundlePath, "Contents/Info.plist");
  auto version = regularFileVersion(infoPath);
  if (!version) {
    bundles_.erase(bundlePath);
    return nullptr;
  }
  auto cached = bundles_.find(bundlePath);
  if (cached != bundles_.end() && cached->second.version == *version) return &cached->second;
  // Read after the stat: a file changed in between reads as changed again next time.
  Facts facts;
  facts.version = *version;
  if (auto bytes = fs_.readFile(infoPath, PropertyList::kMaxBytes)) {
    auto plist = PropertyList::parse(*bytes);
    if (plist && plist->is_object()) {
      facts.isPropertyList = true;
      auto identifier = plist->find("CFBundleIdentifier");
      if (identifier != plist->end() && identifier->is_string()) {
        facts.identifier = identifier->get<std::string>();
      }
      auto executable = plist->find("CFBundleExecutable");
      if (executable != plist->end() && executable->is_string()) {
        facts.executableName = executable->get<std::string>();
      }
    }
  } else {
    facts.readFailure = bytes.status().message();
  }
  Facts& stored = bundles_[bundlePath];
  stored = std::move(facts);
  return &stored;
}

std::optional<std::string> BundleFactsCache::identifierOf(const std::string& bundlePath) {
  const Facts* facts = factsOf(bundlePath);
  if (!facts) return std::nullopt;
  return facts->identifier;
}

std::optional<std::string> BundleFactsCache::executableOf(const std::string& bundlePath) {
  const Facts* facts = factsOf(bundlePath);
  if (!facts || !facts->executableName || !isPlainFileName(*facts->executableName)) {
    return std::nullopt;
  }
  return path::appendingComponent(bundlePath, "Contents/MacOS/" + *facts->executableName);
}

}  // namespace zelto
