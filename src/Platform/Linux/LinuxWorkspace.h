// LinuxWorkspace: the Workspace of this machine, read from /proc.
//
// Running applications, among the processes of the current user:
// - a process this workspace launched is the application of the bundle it was launched from for
//   as long as it lives (its pidfd says so), whatever it runs: a CFBundleExecutable that is a
//   script runs an interpreter, and may exec yet another program;
// - any other process is the application of bundle B when its executable (/proc/PID/exe) lies
//   at B/Contents/MacOS/NAME;
// - or when its executable is an interpreter (by its name, see CommandLineProgram) and the
//   script its command line names (relative to its working directory) is a regular file at
//   B/Contents/MacOS/NAME, links resolved: a CFBundleExecutable that is a script, started by
//   hand, which doesn't exec another program. Only such processes have their command line read.
// Either way B must have a Contents/Info.plist; the identifier comes from it (empty when it names
// none) and is cached per bundle until the file changes (BundleFactsCache). `bundlePath` is
// canonical (see
// Workspace). A process that has ended, zombie or gone, is simply not listed, so no entry is
// ever reported with isTerminated set.
//
// The process table is read whole at the first reading, while a start of a watched executable
// is being looked for (below), and on `refreshRunningApplications`. Any other
// `runningApplications` answers from the list, looking again only at the processes listed
// (still alive, still the same executable, the identifier still current): each reading costs
// a few system calls per listed application, not a walk of /proc.
//
// Changes of the list reach observers on the loop:
// - The end of a listed application at once: each listed process has a pidfd watched on the
//   loop. When the loop can't watch one (logged once), that end is found by the next reading.
// - A launch at once: the child is listed as it is spawned.
// - The start of an application whose executable the workspace has launched, listed, or been
//   asked to watch (`watchForStarts`): the exec opens that executable, which an inotify watch on
//   it reports (InotifyExecutableWatch); the list is then read whole a few times, briefly
//   spaced, while the exec completes (SettleSchedule), and at every reading meanwhile. The open
//   made by the exec of the workspace's own launch is no such start (a script's interpreter opening
//   the script afterwards still looks like one). Without inotify, or once its events can't be read
//   (logged), such a start is found by the next full reading.
// - A change found while reading the list for a caller, told later on the loop.
// The first reading establishes the list and tells nobody. Nothing reports the start of an
// application from any other bundle: Linux offers no unprivileged notice of every exec; the
// next `refreshRunningApplications` finds it.
//
// Launching starts B/Contents/MacOS/<CFBundleExecutable> directly (no shell, no PATH), without
// arguments, in a new session, standard streams on /dev/null, every signal at its default, with
// this process's environment. A CFBundleExecutable naming anything outside Contents/MacOS is
// refused. The Info.plist is read again only when the file has changed (the launched child is
// listed with the identifier it gave). Every child is reaped when it ends, so none is left a
// zombie (LaunchedChildren).
//
// Ownership: the creator owns the workspace; the loop must outlive it. It owns its descriptors
// (pidfds, through its parts the inotify descriptor) and closes them when destroyed. Threads:
// the loop's thread only.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Platform/Linux/BundleFactsCache.h"
#include "Platform/Linux/InotifyExecutableWatch.h"
#include "Platform/Linux/LaunchedChildren.h"
#include "Platform/Linux/ProcessWatch.h"
#include "Platform/RunLoop.h"
#include "Platform/SettleSchedule.h"
#include "Platform/Workspace.h"

namespace zelto {

class LinuxWorkspace final : public Workspace {
 public:
  explicit LinuxWorkspace(RunLoop& loop);
  ~LinuxWorkspace() override = default;
  LinuxWorkspace(const LinuxWorkspace&) = delete;
  LinuxWorkspace& operator=(const LinuxWorkspace&) = delete;

  std::vector<RunningApplication> runningApplications() override;
  Status launchApplication(const std::string& bundlePath) override;
  bool resumeIfStopped(int processIdentifier) override;
  void refreshRunningApplications() override;
  void watchForStarts(const std::string& bundlePath) override;

 private:
  // What a process is found to be.
  struct Found {
    std::string bundlePath;  // canonical
    std::string identifier;
    std::string executablePath;  // empty for a child: it is known by its pidfd instead
    std::string scriptPath;      // the script an interpreter runs; empty for any other process
    bool operator==(const Found&) const = default;
  };
  struct Listed {
    RunningApplication application;
    std::string executablePath;  // empty for a child
    std::string scriptPath;      // see Found
    ProcessWatch process;        // empty for a child: the child's own watch tells its end
  };

  // Reads the process table and updates the list; true when it changed (never on the first
  // reading).
  bool rescan();
  // Looks again at the listed processes only; true when the list changed.
  bool review();
  // Brings the list up to date about `pid`, a process of the current user; true when it changed.
  bool lookAt(pid_t pid);
  std::optional<Found> recognise(pid_t pid);
  // The script at B/Contents/MacOS/NAME that process `pid`, an interpreter, runs, canonical;
  // nothing when it runs none.
  std::optional<std::string> bundleScriptOf(pid_t pid) const;
  // Adds a process not listed before; false when it turned out not to be the one recognised.
  bool list(pid_t pid, const Found& found);
  std::optional<std::string> executableOf(pid_t pid) const;
  void forget(pid_t pid);
  void onListedExit(pid_t pid);
  void onChildExit(pid_t pid);
  // Logs, once per workspace, that ends of applications are seen only by readings of the list.
  void endsUnwatched(const Status& why);
  void watchExecutable(const std::string& executablePath);
  // Watches the executable of a bundle given to `watchForStarts`, when it can be found.
  void watchStartsOf(const std::string& bundlePath);
  // A watched executable was opened: the list is read again while the exec completes.
  void onExecutableOpened();
  // One of those readings; true once it found a change.
  bool settle();
  void postNotification();

  RunLoop& loop_;
  // The user whose processes are listed, and this process: listed by the first reading, it runs
  // as long as anyone asks and its executable can't change, so a review passes it by.
  const uid_t uid_ = ::getuid();
  const pid_t self_ = ::getpid();
  BundleFactsCache bundles_;
  std::map<pid_t, Listed> listed_;
  std::set<std::string> startsWatched_;  // bundle paths given to watchForStarts
  bool listRead_ = false;
  bool endWatchFailureLogged_ = false;
  bool startWatchFailureLogged_ = false;
  bool notificationPosted_ = false;
  // Work posted to the loop checks this first: the workspace may be gone by the time it runs.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

  // Their callbacks reach into the list: destroyed first.
  LaunchedChildren children_;
  std::set<std::string> watchedExecutables_;
  InotifyExecutableWatch executableWatch_;
  SettleSchedule settle_;
};

}  // namespace zelto
