#include "Platform/Directories.h"

#include <algorithm>
#include <sstream>

#include "Platform/FileSystem.h"

namespace zelto {

namespace {
constexpr const char* kProductFolder = "Zelto";

bool isAbsolute(const std::optional<std::string>& value) {
  return value && !value->empty() && value->front() == '/';
}
}  // namespace

std::optional<std::string> Directories::homeDirectory() const {
  auto home = environment_("HOME");
  if (home && !home->empty()) return home;
  return passwordHome_();
}

std::optional<std::string> Directories::baseDirectory(const std::string& variable,
                                                      const std::string& fallback) const {
  auto value = environment_(variable);
  if (isAbsolute(value)) return value;
  auto home = homeDirectory();
  if (!home) return std::nullopt;
  return path::appendingComponent(*home, fallback);
}

Result<std::string> Directories::applicationSupportDirectory() const {
  auto directory = baseDirectory("XDG_DATA_HOME", ".local/share");
  if (!directory) return Status::failure("The home directory of the current user is unknown");
  // One stat when it is there (the usual case) rather than a mkdir for every component.
  if (fs_.isDirectory(*directory)) return *directory;
  if (Status created = fs_.createDirectories(*directory); !created.ok()) return created;
  return *directory;
}

std::optional<std::string> Directories::libraryDirectory() const {
  auto base = baseDirectory("XDG_DATA_HOME", ".local/share");
  if (!base) return std::nullopt;
  return path::appendingComponent(path::appendingComponent(*base, kProductFolder), "Library");
}

std::optional<std::string> Directories::cachesDirectory() const {
  auto base = baseDirectory("XDG_CACHE_HOME", ".cache");
  if (!base) return std::nullopt;
  return path::appendingComponent(*base, kProductFolder);
}

std::optional<std::string> Directories::stateDirectory() const {
  auto base = baseDirectory("XDG_STATE_HOME", ".local/state");
  if (!base) return std::nullopt;
  return path::appendingComponent(*base, kProductFolder);
}

std::optional<std::string> Directories::logsDirectory() const {
  auto state = stateDirectory();
  if (!state) return std::nullopt;
  return path::appendingComponent(*state, "Logs");
}

std::optional<std::string> Directories::preferencesDirectory() const {
  auto base = baseDirectory("XDG_CONFIG_HOME", ".config");
  if (!base) return std::nullopt;
  return path::appendingComponent(path::appendingComponent(*base, kProductFolder), "Preferences");
}

std::optional<std::string> Directories::runtimeDirectory() const {
  auto value = environment_("XDG_RUNTIME_DIR");
  if (isAbsolute(value)) return value;
  return std::nullopt;
}

std::vector<std::string> Directories::dataDirectories() const {
  std::vector<std::string> folders;
  auto add = [&](std::string folder) {
    while (folder.size() > 1 && folder.ends_with('/')) folder.pop_back();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(std::move(folder));
    }
  };
  if (auto home = baseDirectory("XDG_DATA_HOME", ".local/share")) add(*home);
  std::string system = environment_("XDG_DATA_DIRS").value_or("");
  if (system.empty()) system = "/usr/local/share:/usr/share";
  std::istringstream parts(system);
  for (std::string folder; std::getline(parts, folder, ':');) {
    if (isAbsolute(folder)) add(folder);
  }
  return folders;
}

}  // namespace zelto
