#include "App/Data/ZeltoDefaults.h"

#include <fmt/format.h>

#include <map>
#include <mutex>

#include "App/Data/BundleIdentifiers.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

constexpr const char* kAgentBundleName = "Agent.app";

std::optional<std::string> resourcePath(const std::string& relativePath) {
  auto application = ZeltoDefaults::getZeltoApplicationPath();
  if (!application) return std::nullopt;
  return *application + relativePath;
}

// The UTF-8 text of the file at `path`, or nothing when it can't be read as such. The answer is
// kept with the file's status and given again while the status stays the same (one stat);
// resources change only with the bundle, so a changed file is a new status.
std::optional<std::string> resourceText(const std::string& path) {
  struct Kept {
    std::optional<FileStatus> status;
    std::optional<std::string> text;
  };
  static std::mutex mutex;
  static std::map<std::string, Kept> kept;  // by path; a handful of files
  constexpr size_t kMostKept = 32;          // other bundles (tests) come and go

  const FileSystem& fs = Env::fileSystem();
  std::optional<FileStatus> status =
      fs.inspect(path).toOptional();  // first: a later change shows next time
  std::lock_guard<std::mutex> lock(mutex);
  if (auto found = kept.find(path);
      found != kept.end() && isSameFileVersion(found->second.status, status)) {
    return found->second.text;
  }
  if (kept.size() >= kMostKept) kept.clear();
  Kept& entry = kept[path];
  entry = Kept{status, fs.readUTF8File(path, FileSystem::kMaxResourceBytes).toOptional()};
  return entry.text;
}

std::vector<std::string> splitAll(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(separator, start);
    if (at == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

}  // namespace

std::optional<std::string> ZeltoDefaults::getZeltoApplicationPath() {
  BundleInfo bundle = Env::mainBundle();
  const std::string& bundlePath = bundle.bundlePath;
  if (bundle.bundleIdentifier == BundleIdentifiers::kMain) return bundlePath;

  if (bundle.bundleIdentifier == BundleIdentifiers::kAgent) {
    const std::string agentPart = fmt::format("/Contents/MacOS/{}", kAgentBundleName);
    if (bundlePath.find(agentPart) != std::string::npos) {
      std::string application = bundlePath;
      for (size_t at = application.find(agentPart); at != std::string::npos;
           at = application.find(agentPart, at)) {
        application.erase(at, agentPart.size());
      }
      return application;
    }
    log::error("Watchdog agent can't find Zelto.app in path {}", bundlePath);
  }
  log::error("Error finding Zelto application path for current identifier={}",
             bundle.bundleIdentifier.value_or("(null)"));
  return std::nullopt;
}

std::optional<std::string> ZeltoDefaults::getZeltoDefaultsRCPath() {
  return resourcePath("/Contents/Resources/zelto");
}

std::optional<std::string> ZeltoDefaults::getQuotesRCPath() {
  return resourcePath("/Contents/Resources/quotes");
}

std::optional<std::vector<std::string>> ZeltoDefaults::parseResourceFile(
    const std::optional<std::string>& path) {
  if (!path) {
    log::info("Unable to find file to parse at {}", "(null)");
    return std::nullopt;
  }
  auto text = resourceText(*path);
  if (!text) return std::nullopt;
  std::vector<std::string> items;
  for (auto& line : splitAll(*text, '\n')) {
    if (!line.empty() && line.front() != '#') items.push_back(std::move(line));
  }
  return items;
}

std::vector<std::string> ZeltoDefaults::getDefaultHosts() {
  return parseResourceFile(getZeltoDefaultsRCPath()).value_or(std::vector<std::string>{});
}

nlohmann::json ZeltoDefaults::getDefaultQuotes() {
  nlohmann::json quotes = nlohmann::json::array();
  auto lines = parseResourceFile(getQuotesRCPath());
  if (!lines) return quotes;
  for (const auto& line : *lines) {
    auto parts = splitAll(line, '|');
    quotes.push_back({{"quote", parts[0]}, {"author", parts.size() == 2 ? parts[1] : ""}});
  }
  return quotes;
}

std::string ZeltoDefaults::getScriptAtPath(const std::string& relativePath) {
  auto path = resourcePath(relativePath);
  if (!path) return "";
  return resourceText(*path).value_or("");
}

std::string ZeltoDefaults::getDefaultZeltoScript() {
  return getScriptAtPath("/Contents/Resources/zelto_script");
}

std::string ZeltoDefaults::getDefaultUnzeltoScript() {
  return getScriptAtPath("/Contents/Resources/unzelto_script");
}

std::string ZeltoDefaults::getDefaultBreakScript() {
  return getScriptAtPath("/Contents/Resources/break_script");
}

std::string ZeltoDefaults::getDefaultUnbreakScript() {
  return getScriptAtPath("/Contents/Resources/unbreak_script");
}

}  // namespace zelto
