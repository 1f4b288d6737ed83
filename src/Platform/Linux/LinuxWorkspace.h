// LinuxWorkspace: the Workspace of this machine, read from /proc.
//
// Running applications: the processes of the current user whose executable (/proc/PID/exe)
// lies at B/Contents/MacOS/NAME of a bundle B with a Contents/Info.plist; the identifier comes
// from that Info.plist (empty when it names none) and is cached per bundle until the file
// changes. A process that has ended, zombie or gone, is simply not listed, so no entry is ever
// reported with isTerminated set. The list is read afresh on each `runningApplications`.
//
// Changes of the list reach observers on the loop:
// - The end of a listed application at once: each listed process has a pidfd watched on the
//   loop.
// - The start of an application whose executable the workspace has launched or listed before:
//   the exec opens that executable, which an inotify watch on it reports; the list is then read
//   again (a few times, briefly spaced, while the exec completes).
// - A change found while reading the list for a caller.
// Nothing reports other applications starting (a bundle never launched or listed here): Linux
// offers no unprivileged notice of every exec, and no timer polls for it. The watchdog does not
// need it: it acts only when the main application is not running, which the exit watch reports
// at once, and it checks every 75 seconds regardless.
//
// Launching starts B/Contents/MacOS/<CFBundleExecutable> directly (no shell, no PATH), without
// arguments, in a new session, standard streams on /dev/null, with this process's environment.
// Every child is reaped when it ends (its pidfd is watched), so none is left a zombie however
// long the agent runs.
//
// Ownership: the creator owns the workspace; the loop must outlive it. It owns its descriptors
// (pidfds, the inotify descriptor) and closes them when destroyed. Threads: the loop's thread
// only.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Platform/FileSystem.h"
#include "Platform/RunLoop.h"
#include "Platform/Workspace.h"

namespace zelto {

class LinuxWorkspace final : public Workspace {
 public:
  explicit LinuxWorkspace(RunLoop& loop);
  ~LinuxWorkspace() override;
  LinuxWorkspace(const LinuxWorkspace&) = delete;
  LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

  std::vector<RunningApplication> runningApplications() override;
  bool launchApplication(const std::string& bundlePath) override;

 private:
  struct Listed {
    RunningApplication application;
    std::string executablePath;
    int pidfd = -1;  // -1 when the kernel offers no pidfds: the end is then seen on a rescan
    std::unique_ptr<Registration> exitWatch;
  };
  struct Child {
    int pidfd = -1;
    std::unique_ptr<Registration> exitWatch;
  };
  struct CachedIdentifier {
    int64_t modifiedNanoseconds = 0;
    uint64_t fileNumber = 0;
    uint64_t size = 0;
    std::string identifier;
  };

  // Reads the process table and updates the list; true when it changed.
  bool rescan();
  // The identifier of bundle B from its Info.plist; nothing when B has no Info.plist.
  std::optional<std::string> identifierOfBundle(const std::string& bundlePath);
  std::optional<std::string> executableOf(pid_t pid) const;
  void forget(pid_t pid);
  void onListedExit(pid_t pid);
  void onChildExit(pid_t pid);
  void reapChildrenWithoutPidfd();
  void watchExecutable(const std::string& executablePath);
  void onExecutableEvents();
  void settle();
  void postNotification();

  RunLoop& loop_;
  LocalFileSystem fs_;
  std::map<pid_t, Listed> listed_;
  std::map<pid_t, Child> children_;
  std::map<std::string, CachedIdentifier> identifiers_;

  int inotifyFd_ = -1;
  std::unique_ptr<Registration> inotifyWatch_;
  std::map<std::string, int> watchedExecutables_;  // path -> watch descriptor
  std::unique_ptr<Registration> settleTimer_;
  double settleDelaySeconds_ = 0;
  bool openedWhileSettling_ = false;

  bool notificationPosted_ = false;
  // Work posted to the loop checks this first: the workspace may be gone by the time it runs.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zelto
