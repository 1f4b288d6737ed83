// ZeltoBasePreferences: a record that is kept in its own configuration file.
//
// The file of namespace N is N + ".cfg" in the configuration directory (looked up afresh at
// every use), with a ".bak" backup written before it on every save and dated ".snapshot"
// copies on request. Files are read whole and replaced atomically, so a reader sees either the
// old or the new content; the last writer wins. A file that can't be used is never repaired or
// moved: the next save simply replaces it.
//
// A record remembers the version of its file it holds (the file's status when it was last read
// whole, or right after its own save) so that `discardUnsavedChangesIfFileChanged` can skip a
// file that hasn't changed. Defaults filled in for keys the file lacks (an identifier made
// anew, the time now) are no unsaved change: the version is held all the same, the record
// keeps the values it made, and nothing is written for them. A failure holds no version. The
// record's own methods that change it without saving (resetToDefaults, and ZeltoPreferences'
// defaultProfile when it adds one and syncBlockedApplicationsArrays) forget the version, so
// their changes are discarded as before; a field changed directly and not saved survives a
// skipped read, so such a change must be saved or followed by `fileMayHaveChanged`.
//
// A large file read whole leaves its text and parsed form behind as free memory; the heap is
// trimmed after such a read, so that a record replaced by a small one gives it back.
//
// A reload never loses what the record holds to a file it can't use: when the file can't be
// read or parsed, or its values don't fit the record, the record stays exactly as it was; so
// it does when the file is gone after the record was once read from it or saved to it (the
// record keeps the last configuration it knew, and says so in the log). Only a record that
// never knew a file starts from what it has when there is none. Every record read from its file
// or saved to it is also remembered as the last good configuration (LastGoodConfiguration),
// from which a program starting without a usable file loads instead.
//
// Plain value like every record; no lock. Any thread, one at a time per record.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "App/Data/Preferences/ZeltoBaseJSONModel.h"
#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class ZeltoBasePreferences : public ZeltoBaseJSONModel {
 public:
  // The largest configuration file read: far above any real one (a large configuration takes
  // under 2 MB), and small enough to read and parse whole.
  static constexpr uint64_t kMaxConfigurationBytes = 16 * 1024 * 1024;

  // The namespace this record was loaded from; selects its file. Never stored.
  std::string ns;

  static std::string standardNamespace();
  // The full path of the standard configuration file, default.cfg.
  static std::optional<std::string> standardConfigurationPath();

  // The parsed content of a namespace's file: an empty object when there is no file; a failure
  // when it can't be read or isn't a JSON object, its reason the line that was logged.
  static Result<nlohmann::json> configObjectForNamespace(const std::string& configNamespace);
  // The same for one file, wherever it is (the directory is not created). A file larger than
  // kMaxConfigurationBytes can't be loaded; one nested deeper than JsonText::kMaxDepth is
  // malformed. Never throws.
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
  // The fields present in the file take the file's values; the others keep theirs. The file is
  // read every time.
  virtual Status discardUnsavedChanges();
  // The same, unless the file is still the version this record holds: same path, and a status
  // that shows neither a rewrite nor a replacement nor a change of permissions (one stat, no
  // read). After this record's own save the saved content is taken back once, as a read of
  // the file would give it, without reading the file.
  Status discardUnsavedChangesIfFileChanged();
  // The same for a writer holding the configuration's lock, which must see every other
  // writer's save: the file is read (no stat can tell a rewrite in place within the file
  // system's clock tick), but parsed and merged only when its bytes differ from those of the
  // version this record holds.
  Status discardUnsavedChangesIfContentChanged();
  // Forgets the version held: the next discardUnsavedChangesIfFileChanged reads the file, even
  // when its status looks the same (a rewrite in place within the file system's clock tick
  // can keep it). For a file watcher's event.
  void fileMayHaveChanged() { heldFile_.reset(); }

 protected:
  // A version of a configuration file: where, its status when it was read or written, and the
  // digest of its bytes (contentDigest).
  struct FileVersion {
    std::string path;
    FileStatus status;
    size_t digest = 0;
  };

  static size_t contentDigest(std::string_view bytes);

  // The read of a file at least this large is followed by trimming the heap.
  static constexpr size_t kReleaseAfterBytes = 256 * 1024;

  // configObjectForNamespace, but nothing when there is no file; and the version of the file,
  // its status taken before the read: nothing when there was no regular file to read; and,
  // when `text` is given, the file's bytes. `version` and `text` are set on success only.
  static Result<std::optional<nlohmann::json>> readNamespace(const std::string& configNamespace,
                                                             std::optional<FileVersion>& version,
                                                             std::string* text);
  // Gives the free memory back to the system after a read of `bytes` bytes, when that many
  // leave much behind (see kReleaseAfterBytes).
  static void releaseMemoryAfterReading(size_t bytes);
  // From now on this record holds `version` of its file (see above).
  void holdVersion(FileVersion version) { heldFile_ = HeldFile{std::move(version), std::nullopt}; }
  // The record's content came from its file (or went there): a reload finding no file keeps it.
  void noteFileLoaded() { fileLoaded_ = true; }
  // Given the object a discard is about to merge (the file's, or the record's own save), adds
  // whatever else the discard must change, as keys of the object: the merge applies it all or
  // nothing.
  virtual void prepareDiscard(nlohmann::json& /*stored*/) const {}

 private:
  struct HeldFile {
    FileVersion version;
    // The bytes this record's last save wrote there, until they have been taken back (read
    // as the file's would be); nothing after a read.
    std::optional<std::string> unreadSave;
  };

  // The merge of a discard (prepareDiscard applied first), with its failure logged.
  Status mergeStored(nlohmann::json stored);
  // The parsed object of the file at `path`, nothing when there is no file; each failure
  // logged. On success the file's bytes go to `text` when it is given.
  static Result<std::optional<nlohmann::json>> readConfigFile(const std::string& path,
                                                              std::string* text);
  // readConfigFile, letting exceptions out.
  static Result<std::optional<nlohmann::json>> readConfigFileOrThrow(const std::string& path,
                                                                     std::string* text);
  // The bytes a file holding this record is written with (`sizeHint`: about how many); a
  // failure (logged) for text that isn't valid UTF-8.
  Result<std::string> serialize(size_t sizeHint) const;
  // Writes `bytes` (this record serialized) to `path`, flushed to disk unless it is a spare
  // copy (the backup): on success the status of the file written, when it can be told.
  Result<std::optional<FileStatus>> writeBytes(const std::string& bytes, const std::string& path,
                                               bool spare) const;

  std::optional<HeldFile> heldFile_;
  bool fileLoaded_ = false;
};

}  // namespace zelto
