// HeldLock: a locked blocking period, once seen in force, kept outside the configuration until
// its end, so that nothing done to what started it ends or shortens it early.
//
// A locked period (a scheduled period in hardcore mode, a hardcore timer that must be completed)
// ends early only when its record changes: the file edited, broken or replaced, the configuration
// folder pointed elsewhere, or the time zone the schedule is read in changed (which moves a
// scheduled period, and may end one in force). Once a program sees such a period in force it
// keeps the period's end here, in the user's state directory, and every program then takes the
// period as locked and enforcing until that end, whatever the record says. A later sight of the
// period may move the end on (a longer period), never back.
//
// A period is honoured only from a day before its first sight on, so that a clock that was far
// ahead when it was seen (and then set right) doesn't hold one for long. Setting the clock past
// the end still ends it, as it ends every block.
//
// The file is read at the first use and written when the period kept changes; a file that can't
// be read or written is logged and the period is kept in memory for this process.
//
// Ownership: the controller that uses it. Threads: the controller's thread.
#pragma once

#include <optional>
#include <string>

#include "Platform/Date.h"
#include "Platform/Status.h"

namespace zelto {

class HeldLock {
 public:
  struct Period {
    Date from;   // when it was first seen in force
    Date until;  // its end
    std::string reason;
  };

  // Kept in the file at `path`.
  explicit HeldLock(std::string path) : path_(std::move(path)) {}
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

  // The file in the user's state directory; nothing when the home directory is unknown.
  static std::optional<std::string> standardPath();

  // The period kept, when it is in force at `now`.
  std::optional<Period> inForce(Date now);
  // A locked period seen in force at `now`, ending at `until`.
  void hold(Date now, Date until, const std::string& reason);

 private:
  // Reads the file once (the first call): no file is no period; a file that can't be read or
  // is malformed keeps no period and fails, naming the file.
  Status load();
  Status store() const;
  // load, with its failure logged.
  void loadOnce();

  std::string path_;
  bool loaded_ = false;
  std::optional<Period> period_;
};

}  // namespace zelto
