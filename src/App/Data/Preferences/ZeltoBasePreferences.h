// ZeltoBasePreferences: a record that is kept in its own configuration file.
//
// The file of namespace N is N + ".cfg" in the configuration directory (looked up afresh at
// every use), with a ".bak" backup written before it on every save and dated ".snapshot"
// copies on request. Files are read whole and replaced atomically, so a reader sees either the
// old or the new content; the last writer wins. A file that can't be used is never repaired or
// moved: the next save simply replaces it.
//
// Plain value like every record; no lock. Any thread, one at a time per record.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "App/Data/Preferences/ZeltoBaseJSONModel.h"
#include "Platform/Status.h"

namespace zelto {

class ZeltoBasePreferences : public ZeltoBaseJSONModel {
 public:
  // The namespace this record was loaded from; selects its file. Never stored.
  std::string ns;

  static std::string standardNamespace();
  // The full path of the standard configuration file, default.cfg.
  static std::optional<std::string> standardConfigurationPath();

  // The parsed content of a namespace's file: an empty object when there is no file; a failure
  // when it can't be read or isn't a JSON object, its reason the line that was logged.
  static Result<nlohmann::json> configObjectForNamespace(const std::string& configNamespace);
  // The same for one file, wherever it is (the directory is not created).
  static Result<nlohmann::json> configObjectAtPath(const std::string& path);

  std::optional<std::string> configFilePath() const;
  bool exists() const;

  // Each failure is logged, and its reason is the line that was logged.
  Status save();
  Status saveWithBackup(bool backup);
  Status saveSnapshot();
  Status saveToPath(const std::string& path);

  // The fields named by the defaults table take their defaults again. Nothing is saved.
  virtual Status resetToDefaults();
  // The fields present in the file take the file's values; the others keep theirs.
  virtual Status discardUnsavedChanges();
};

}  // namespace zelto
