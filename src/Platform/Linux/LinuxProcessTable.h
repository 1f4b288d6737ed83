// LinuxProcessTable: the ProcessTable of this machine, read from /proc.
//
// A process is the table's user's when the first (real) user of the Uid: line of
// /proc/PID/status is that user: this process's real user, or the one the table was made for (a
// root service looking after a user's programs). Its executable is the target of /proc/PID/exe,
// whose " (deleted)" suffix says the file was replaced or removed; a zombie has none and is left
// out. The executable's file status is a stat of /proc/PID/exe, which reaches the file the
// process runs even when it was removed or lives in memory only; its digest reads that same
// file.
//
// Processes are pinned by pidfds (ProcessWatch) and signalled through them. Where the system
// offers no pidfd, a process is signalled by its number, once its executable has been read
// again and found unchanged.
//
// Launching starts the program detached, in a session of its own (see ProcessSpawner): it is
// nobody's child here. A table made for another user launches nothing: the program would run as
// this process's user, not as theirs.
//
// Ownership and threads: see ProcessTable. Holds no descriptor between calls.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "Platform/ProcessTable.h"

namespace zelto {

class LinuxProcessTable final : public ProcessTable {
 public:
  LinuxProcessTable() : LinuxProcessTable(::getuid()) {}
  explicit LinuxProcessTable(uid_t user) : user_(user), ownUser_(user == ::getuid()) {}

  struct Executable {
    std::string path;
    bool replaced = false;  // the file was replaced or removed since the process started
  };
  // The executable of process `pid`; nothing when it has ended, is a zombie or a kernel thread,
  // or can't be read.
  static std::optional<Executable> executableOf(pid_t pid);
  // Whether process `pid` is stopped (by SIGSTOP or SIGTSTP: state "T"); not when it has ended
  // or can't be read.
  static bool isStopped(pid_t pid);
  // The numbers of the processes /proc lists now, of every user; nothing when /proc can't be
  // read. Both failures are logged.
  static std::optional<std::vector<pid_t>> processNumbers();
  // The arguments of process `pid` (/proc/PID/cmdline), read up to a bound of some kilobytes.
  static Result<std::vector<std::string>> commandLineOf(pid_t pid);
  // The working directory of process `pid`.
  static Result<std::string> workingDirectoryOf(pid_t pid);

  std::vector<Entry> processesOfCurrentUser() override;
  std::optional<Entry> describe(int pid) override;
  Result<std::vector<std::string>> commandLine(int pid) override { return commandLineOf(pid); }
  Result<std::string> workingDirectory(int pid) override { return workingDirectoryOf(pid); }
  Result<std::string> executableDigest(int pid) override;
  Result<std::unique_ptr<Process>> open(int pid, const std::string& executable) override;
  Status launchDetached(const std::string& executable) override;

 private:
  uid_t user_;
  bool ownUser_;
};

}  // namespace zelto
