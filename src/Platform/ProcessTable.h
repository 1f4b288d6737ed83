// ProcessTable: the processes of the current user, signals to them, and launching a program
// detached from this one.
//
// `processesOfCurrentUser` lists every process whose real user is this process's, with its
// executable as the kernel names it (absolute, links resolved). When that file has been replaced
// or removed since the process started, the path is the one it had and `executableReplaced` is
// set. Processes that end while the table is read, zombies and kernel threads are left out.
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
#include <string>
#include <vector>

#include "Platform/Status.h"

namespace zelto {

class ProcessTable {
 public:
  struct Entry {
    int pid = 0;
    std::string executable;
    bool executableReplaced = false;
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

  // Pins process `pid`, provided it still runs `executable` once pinned; a failure saying why
  // when it has ended or runs something else by now.
  virtual Result<std::unique_ptr<Process>> open(int pid, const std::string& executable) = 0;

  virtual Status launchDetached(const std::string& executable) = 0;
};

}  // namespace zelto
