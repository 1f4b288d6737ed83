// SystemFiles: the system files the guard writes while locks run, held to an Enforcement: its
// section of the hosts file (HostsSection), the Chromium browsers' policy files and Firefox's
// policies file (BrowserPolicies), every path taken under the guard's root (GuardPaths).
//
// `apply` writes what differs from what the Enforcement calls for, and nothing else, and then
// watches every one of those files (inotify, through the FileWatcher): a file edited, removed
// or replaced by someone else is written again at once, and the repair is logged once per
// episode ("Repaired PATH: it was changed while a lock runs"; changes less than
// kEpisodeSeconds apart are one episode). Its own writes wake the watch too, and find nothing
// to do. A write that fails is logged once and tried again while the Enforcement holds, after
// kRetrySeconds, then at intervals that double up to kLongestRetrySeconds.
// `clear` stops the watches and takes everything out: the hosts section, the guard's Chromium
// files, and Firefox's file as it was before (kept in the guard's state folder, under
// "original-files", from the first write on, so that it survives a restart of the guard), or
// no file when there was none, and the folders it made for them (those still empty). An empty
// Enforcement is a `clear`.
//
// Safety as root: folders are walked one component at a time without following symbolic links,
// and a component that is a link, or a folder others may write to, is refused with its path, so
// no user's link can steer a write elsewhere; a file is written as a new file renamed over the
// old one (a file the rename can't replace, such as one mounted over the path, is rewritten in
// place), and never through a link. Only the guard's own section and files are touched.
//
// Owned by the guard; the loop's thread.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Guard/Enforcement.h"
#include "Guard/GuardPaths.h"
#include "Platform/Clock.h"
#include "Platform/FileWatcher.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class SystemFiles {
 public:
  static constexpr double kEpisodeSeconds = 60.0;
  static constexpr double kRetrySeconds = 1.0;
  static constexpr double kLongestRetrySeconds = 60.0;
  // The largest hosts file read (and so rewritten); a larger one is left alone, with an error.
  static constexpr uint64_t kMaxFileBytes = 64ull << 20;

  SystemFiles(RunLoop& loop, FileWatcher& watcher, const Clock& clock, GuardPaths paths);
  ~SystemFiles();
  SystemFiles(const SystemFiles&) = delete;
  SystemFiles& operator=(const SystemFiles&) = delete;

  // Holds the files to `enforcement` from now on; the first failure, if any (each is logged,
  // and the rest are still written).
  Status apply(const Enforcement& enforcement);
  // Takes out everything the guard wrote, and holds nothing more; the first failure, if any.
  Status clear();

  // The Enforcement held; nothing after `clear`.
  const std::optional<Enforcement>& held() const { return held_; }
  // The files held, as paths under the root.
  std::vector<std::string> paths() const;

 private:
  enum class Kind { kHosts, kChromium, kFirefox };
  struct Target {
    Kind kind;
    std::string folder;  // a system path
    std::string name;
  };

  Status hold(const Target& target, bool repairing);
  Status holdAll(bool repairing);
  Status release(const Target& target);
  Result<std::optional<std::string>> firefoxOriginal();
  void onChanged(size_t index);
  void noteRepair(const std::string& path);
  void retryLater();
  void report(const Target& target, const Status& status);
  // The folder of the guard's notes on what to put back (a system path).
  std::string originalsFolder() const;
  Status noteMadeFolders(const std::vector<std::string>& made);
  Status removeMadeFolders();

  RunLoop& loop_;
  FileWatcher& watcher_;
  const Clock& clock_;
  GuardPaths paths_;
  std::vector<Target> targets_;
  std::optional<Enforcement> held_;
  std::vector<std::unique_ptr<Registration>> watches_;
  std::unique_ptr<Registration> retry_;
  double retryDelay_ = kRetrySeconds;
  std::map<std::string, double> lastRepair_;    // path -> monotonic seconds
  std::map<std::string, std::string> failing_;  // system path -> its failure, logged
};

}  // namespace zelto
