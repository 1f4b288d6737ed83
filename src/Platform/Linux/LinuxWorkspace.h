// LinuxWorkspace: the Workspace of this machine, read from /proc.
//
// Running applications, among the processes of the current user:
// - a process this workspace launched is the application of the bundle it was launched from for
//   as long as it lives (its pidfd says so), whatever it runs: a CFBundleExecutable that is a
//   script runs an interpreter, and may exec yet another program;
// - any other process is the application of bundle B when its executable (/proc/PID/exe) lies
//   at B/Contents/MacOS/NAME.
// Either way B must have a Contents/Info.plist; the identifier comes from it (empty when it names
// none) and is cached per bundle until the file changes. `bundlePath` is canonical (see
// Workspace). A process that has ended, zombie or gone, is simply not listed, so no entry is
// ever reported with isTerminated set. The list is read afresh on each `runningApplications`.
//
// Changes of the list reach observers on the loop:
// - The end of a listed application at once: each listed process has a pidfd watched on the
//   loop. When the loop can't watch one (logged once), that end is found by the next reading.
// - The start of an application whose executable the workspace has launched or listed before:
//   the exec opens that executable, which an inotify watch on it reports; the list is then read
//   again (a few times, briefly spaced, while the exec completes). Without inotify, or once its
//   events can't be read (logged), such a start is found by the next reading.
// - A change found while reading the list for a caller, told later on the loop.
// The first reading establishes the list and tells nobody. Nothing reports the start of an
// application from a bundle never launched or listed here: Linux offers no unprivileged notice of
// every exec, and no timer polls for one; such a start is found by the next reading.
//
// Launching starts B/Contents/MacOS/<CFBundleExecutable> directly (no shell, no PATH), without
// arguments, in a new session, standard streams on /dev/null, every signal at its default, with
// this process's environment. A CFBundleExecutable naming anything outside Contents/MacOS is
// refused. Every child is reaped when it ends, so none is left a zombie.
//
// Ownership: the creator owns the workspace; the loop must outlive it. It owns its descriptors
// (pidfds, the inotify descriptor) and closes them when destroyed. Threads: the loop's thread
// only.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/ProcessWatch.h"
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
  Status launchApplication(const std::string& bundlePath) override;

 private:
  // What a process is found to be.
  struct Found {
    std::string bundlePath;  // canonical
    std::string identifier;
    std::string executablePath;  // empty for a child: it is known by its pidfd instead
  };
  struct Listed {
    RunningApplication application;
    std::string executablePath;  // empty for a child
    ProcessWatch process;        // empty for a child: the child's own watch tells its end
  };
  struct Child {
    std::string bundlePath;  // canonical
    ProcessWatch process;
  };
  struct CachedIdentifier {
    int64_t modifiedNanoseconds = 0;
    uint64_t fileNumber = 0;
    uint64_t size = 0;
    std::string identifier;
  };

  // Reads the process table and updates the list; true when it changed (never on the first
  // reading).
  bool rescan();
  std::optional<Found> recognise(pid_t pid);
  // Adds a process not listed before; false when it turned out not to be the one recognised.
  bool list(pid_t pid, const Found& found);
  // The identifier of bundle B from its Info.plist; nothing when B has no Info.plist.
  std::optional<std::string> identifierOfBundle(const std::string& bundlePath);
  std::optional<std::string> executableOf(pid_t pid) const;
  void forget(pid_t pid);
  void onListedExit(pid_t pid);
  void onChildExit(pid_t pid);
  void reapUnwatchedChildren();
  void watchEnd(ProcessWatch& process, std::function<void()> onEnd);
  // Logs, once per workspace, that ends of applications are seen only by readings of the list.
  void endsUnwatched(const Status& why);
  void watchExecutable(const std::string& executablePath);
  void onExecutableEvents();
  void settle();
  void postNotification();

  RunLoop& loop_;
  LocalFileSystem fs_;
  std::map<pid_t, Listed> listed_;
  std::map<pid_t, Child> children_;
  std::map<std::string, CachedIdentifier> identifiers_;
  bool listRead_ = false;
  bool endWatchFailureLogged_ = false;

  FileDescriptor inotify_;
  std::unique_ptr<Registration> inotifyWatch_;     // destroyed before inotify_
  std::map<std::string, int> watchedExecutables_;  // path -> watch descriptor
  std::unique_ptr<Registration> settleTimer_;
  double settleDelaySeconds_ = 0;
  bool openedWhileSettling_ = false;

  bool notificationPosted_ = false;
  // Work posted to the loop checks this first: the workspace may be gone by the time it runs.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zelto
