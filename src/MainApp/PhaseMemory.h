// PhaseMemory: the blocking phase the main application last enforced, kept in its runtime
// folder ("zelto.phase", one line: the phase's name), so that a restart in the middle of a
// period (the agent relaunching a killed application) runs no start script again, while a
// period that began while the program was away still gets its start.
//
// Without a runtime folder (no instance lock could be taken) nothing is kept. A file that can't
// be read or names no phase recalls nothing; a failed write is logged and the phase goes
// unremembered, never enforced differently.
//
// Ownership: owned by the application's delegate; uses the file system it is given, which
// outlives it. Threads: the main loop's.
#pragma once

#include <optional>
#include <string>

#include "MainApp/BlockingMonitor.h"

namespace zelto {

class FileSystem;

class PhaseMemory {
 public:
  PhaseMemory(FileSystem& fs, std::string runtimeDirectory);

  void remember(BlockingMonitor::Phase phase);
  std::optional<BlockingMonitor::Phase> recalled() const;

 private:
  std::string file() const;

  FileSystem& fs_;
  std::string runtimeDirectory_;
};

}  // namespace zelto
