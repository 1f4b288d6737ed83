// AppBlocker: ends the programs of the blocked applications while blocking is on.
//
// Entries come from the default profile's raw "blockedApplications" array; each entry's path
// names executables through BlockedExecutables. An entry that is no object or has no string
// path is left out, and a flag that is no bool counts as false; each such problem, and each path
// that can't be resolved, is logged once per change of the entries, not at every look.
//
// While enforcing, every process of the user running a blocked executable is ended the way its
// entry says (a process runs it when ProgramRecogniser says so: under another name, as a copy,
// through the dynamic loader, or, for a script, through an interpreter): quit (SIGTERM, then
// SIGKILL when it is still there after the grace period), force quit (SIGKILL at once), soft quit
// (SIGTERM once, then left alone), or hide (SIGSTOP, until enforcing ends, sent again every
// `holdSeconds`: one continued by hand stops again). Processes are looked at when enforcing starts,
// when the entries change, as soon as a blocked executable is opened (an exec: a program started
// during blocking is ended at once, and looked for again a few times while the exec completes,
// see SettleSchedule), and at a modest interval in case a start went unnoticed. That interval's
// timer runs only while there is a blocked program to look for: a block without blocked programs
// leaves the application asleep.
// Signals go through pinned processes, and what a pinned process runs is recognised once more
// before it is signalled, so a number reused by another program, or a process that has become
// another program since, is never signalled; neither are this process and process 1.
//
// Leaving enforcing wakes every hidden process. Going to kOff from kEnforcing or kBreak (the
// blocking period is over) launches again, detached, each executable whose process was quit or
// force quit during the period when its entry asks for reopening ("shouldReopenWhenUnzeltoing"),
// once per executable.
//
// `shutdown` wakes hidden processes and stops everything; the destructor calls it, so a Zelto
// that is told to end never leaves programs stopped.
//
// Ownership: the creator owns the blocker; the loop, the process table and the watch must
// outlive it. Threads: the loop's thread only.
#pragma once

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "App/Blocking/ProgramRecogniser.h"
#include "Platform/ExecutableWatch.h"
#include "Platform/FileSystem.h"
#include "Platform/ProcessTable.h"
#include "Platform/RunLoop.h"
#include "Platform/SettleSchedule.h"

namespace zelto {

class AppBlocker {
 public:
  enum class Mode { kOff, kBreak, kEnforcing };

  struct Options {
    double quitGraceSeconds = 3;  // from SIGTERM to SIGKILL for a plain quit
    double rescanSeconds = 5;     // the look at every process, in case a start went unnoticed
    double holdSeconds = 0.5;     // hidden programs are stopped again this often
    // Bytes of same-size files read for digests in one look (see ProgramRecogniser).
    uint64_t digestBytesPerLook = ProgramRecogniser::kDigestBytesPerLook;
  };

  AppBlocker(RunLoop& loop, ProcessTable& processes, ExecutableWatch& watch)
      : AppBlocker(loop, processes, watch, Options()) {}
  AppBlocker(RunLoop& loop, ProcessTable& processes, ExecutableWatch& watch, Options options);
  ~AppBlocker();
  AppBlocker(const AppBlocker&) = delete;
  AppBlocker& operator=(const AppBlocker&) = delete;

  // `blockedApplications`: the default profile's raw array. `searchPath`: PATH, for desktop
  // entries naming a program without a directory. `fs` is looked at again at every look at the
  // processes: it must outlive the blocker.
  void setEntries(const nlohmann::json& blockedApplications, const FileSystem& fs,
                  const std::string& searchPath);
  void setMode(Mode mode);
  Mode mode() const { return mode_; }

  // Wakes hidden processes and stops watching; the mode is kOff afterwards, without reopening.
  void shutdown();

 private:
  enum class Ending { kQuit, kForceQuit, kSoftQuit, kHide };
  struct Rule {
    Ending ending = Ending::kQuit;
    bool reopen = false;
  };
  // A process ended (or being ended) during this enforcing period.
  struct Handled {
    std::unique_ptr<ProcessTable::Process> process;
    Ending ending = Ending::kQuit;
    std::string executable;
    std::unique_ptr<Registration> killTimer;  // a quit's SIGKILL, pending
  };

  void holdHidden();
  void startEnforcing();
  void stopEnforcing();
  void watchExecutables();
  void onExecutableOpened();
  // Arms the regular look while enforcing with something to look for; disarms it otherwise.
  void followRescan();
  void scan();
  void end(std::unique_ptr<ProcessTable::Process> process, const std::string& executable,
           const Rule& rule);
  void killIfStillThere(int pid);
  void thaw();
  void reopen();

  RunLoop& loop_;
  ProcessTable& processes_;
  ExecutableWatch& watch_;
  Options options_;
  const int ownPid_;

  std::map<std::string, Rule> rules_;              // by canonical executable
  std::unique_ptr<ProgramRecogniser> recogniser_;  // knows the executables of rules_
  const FileSystem* recogniserFs_ = nullptr;       // the one recogniser_ reads
  std::set<std::string> problems_;                 // as logged for the current entries
  Mode mode_ = Mode::kOff;
  std::map<int, Handled> handled_;   // by pid, this enforcing period
  std::vector<std::string> reopen_;  // executables to launch again at kOff, no repeats
  std::unique_ptr<Registration> rescanTimer_;
  std::unique_ptr<Registration> holdTimer_;  // while a hidden program is held
  SettleSchedule settle_;
  bool watchFailureLogged_ = false;
};

}  // namespace zelto
