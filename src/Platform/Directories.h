// Directories: where the user's files live on this machine.
//
// The Linux stand-ins for the user's folders follow the XDG base-directory rules (a relative
// or empty XDG value is ignored; without HOME the password database gives the home):
//   Application Support   ${XDG_DATA_HOME:-$HOME/.local/share}
//   Library               ${XDG_DATA_HOME:-$HOME/.local/share}/Zelto/Library
//   Caches                ${XDG_CACHE_HOME:-$HOME/.cache}/Zelto
//   state                 ${XDG_STATE_HOME:-$HOME/.local/state}/Zelto (kept between runs)
//   Logs                  ${XDG_STATE_HOME:-$HOME/.local/state}/Zelto/Logs
//   Preferences           ${XDG_CONFIG_HOME:-$HOME/.config}/Zelto/Preferences  (user defaults)
//   runtime               $XDG_RUNTIME_DIR (the session's own folder; nothing when not set)
//   data folders          the data home, then ${XDG_DATA_DIRS:-/usr/local/share:/usr/share}
//                         (where the desktop's applications and icons are; relative ones left out)
// Only `applicationSupportDirectory` creates its directory; the others are just computed.
// Every call reads the environment afresh.
//
// Thread safety: any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

class FileSystem;

class Directories {
 public:
  // Reads one environment variable; nothing when it is not set.
  using EnvironmentReader = std::function<std::optional<std::string>(const std::string&)>;
  // Gives the home directory from the password database, or nothing.
  using HomeLookup = std::function<std::optional<std::string>()>;

  // The process's own environment and password database.
  explicit Directories(FileSystem& fs);
  Directories(FileSystem& fs, EnvironmentReader environment, HomeLookup passwordHome);

  std::optional<std::string> homeDirectory() const;

  // The Application Support directory, created when missing. Fails when the home directory is
  // unknown or the directory can't be made.
  Result<std::string> applicationSupportDirectory() const;
  std::optional<std::string> libraryDirectory() const;
  std::optional<std::string> cachesDirectory() const;
  std::optional<std::string> stateDirectory() const;
  std::optional<std::string> logsDirectory() const;
  std::optional<std::string> preferencesDirectory() const;
  std::optional<std::string> runtimeDirectory() const;
  // The data folders the desktop searches, the user's own first; none repeated.
  std::vector<std::string> dataDirectories() const;

 private:
  // $variable when it is an absolute path, else $HOME/fallback.
  std::optional<std::string> baseDirectory(const std::string& variable,
                                           const std::string& fallback) const;

  FileSystem& fs_;
  EnvironmentReader environment_;
  HomeLookup passwordHome_;
};

}  // namespace zelto
