// ProcessTable: the processes of the current user, signals to them, and launching a program
// detached from this one.
//
// `processesOfCurrentUser` lists every process whose real user is this process's, with its
// executable as the kernel names it (absolute, links resolved). When that file has been replaced
// or removed since the process started, the path is the one it had and `executableReplaced` is
// set. Processes that end while the table is read, zombies and kernel threads are left out.
// Each entry also carries the status of the executable's file itself, followed from the process
// (so still the right file when it was removed, renamed, or is no file on disk at all), when it
// can be read: hard links and bind mounts of a file share its device and inode.
//
// `describe` reads one process afresh, as the listing would; `commandLine`, `workingDirectory`
// and `executableDigest` read what a listing leaves out, for the few processes that need it.
//
// `open` pins one process: signals sent through the Process reach that process or nothing,
// never another that has taken over its number since.
//
// `launchDetached` starts a program with no arguments, in a session of its own, its standard
// streams on /dev/null, every signal at its default: no child of this process, so nothing is
// left to reap. It returns once the program runs (or could not be started).
//
// Ownership: the creator owns the table and the Processes it hands out (each one may outlive
// the table). Threads: one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class ProcessTable {
 public:
  struct Entry {
    int pid = 0;
    std::string executable;
    bool executableReplaced = false;
    std::optional<FileStatus> file;  // the executable's file; nothing when it can't be read
  };

  class Process {
   public:
    virtual ~Process() = default;
    virtual int pid() const = 0;
    // Whether the process has ended (a zombie has).
    virtual bool hasEnded() const = 0;
    // Sends signal `number`. A process that has ended meanwhile is no failure: there was
    // nothing left to signal (a debug line says so).
    virtual Status signal(int number) = 0;
  };

  virtual ~ProcessTable() = default;

  virtual std::vector<Entry> processesOfCurrentUser() = 0;
  // Process `pid` as the listing would show it now; nothing when it has ended or isn't the
  // current user's.
  virtual std::optional<Entry> describe(int pid) = 0;
  // Its arguments, the first being the program's name as it was started; an argument cut at a
  // bound of some kilobytes is left out with the ones after it.
  virtual Result<std::vector<std::string>> commandLine(int pid) = 0;
  // Its working directory, absolute.
  virtual Result<std::string> workingDirectory(int pid) = 0;
  // The SHA-256 (hexadecimal) of the file its executable is, read from the process's own view
  // of it: a removed file or one that lives only in memory is read all the same.
  virtual Result<std::string> executableDigest(int pid) = 0;

  // Pins process `pid`, provided it still runs `executable` once pinned; a failure saying why
  // when it has ended or runs something else by now.
  virtual Result<std::unique_ptr<Process>> open(int pid, const std::string& executable) = 0;

  virtual Status launchDetached(const std::string& executable) = 0;
};

}  // namespace zelto
