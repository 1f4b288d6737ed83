// BlockedExecutables: the executable files a blocked-application entry names, in the form the
// kernel shows a running program's executable (/proc/PID/exe: absolute, links resolved).
//
// An entry's path is an executable (itself), a desktop entry (a regular file named "*.desktop":
// the program of its Exec= line, looked up on the search path when it has no "/"), or an
// application bundle (a directory with Contents/MacOS: every executable regular file in it). The
// application (what it ends) and zeltoctl (what it takes to block) read entries only here, so they
// can't disagree. A desktop entry whose program is a launcher of other programs (flatpak, snap, a
// shell running a command line) names no program of its own: blocking the launcher would end
// every program it starts, so it is refused with the reason. A "#!" script is an executable too,
// and is also listed among the scripts: its running copies show its interpreter as their
// executable, and are told by the script their command line names. The interpreter its "#!" line
// names (past an "env", found on the search path) is listed as well, when it can be found, so that
// a copy of it under another name is still known for one.
//
// Class operations only; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class BlockedExecutables {
 public:
  struct Resolved {
    std::vector<std::string> executables;   // canonical paths, no repeats
    std::vector<std::string> scripts;       // those of them that are "#!" scripts
    std::vector<std::string> interpreters;  // canonical paths of the scripts' interpreters
    std::vector<std::string> problems;      // one line each: what couldn't be resolved, and why
  };

  // `searchPath`: the directories of PATH, colon-separated.
  static Resolved resolve(const std::string& entryPath, const FileSystem& fs,
                          const std::string& searchPath);

  // Success when an entry stands at `path` (see above), else a failure saying what stands there.
  // Whether its program can be found is for `resolve` to tell.
  static Status checkEntry(const std::string& path, const FileSystem& fs);

  // The program a desktop entry runs: the first word of the Exec= value of its [Desktop Entry]
  // group (escapes and quoting undone as desktop entries have them, a "%%" field code being a
  // "%"), past an "env" with its options and NAME=value words. A failure with the reason when
  // there is none, or when it is a launcher of other programs.
  static Result<std::string> desktopEntryProgram(const std::string& text);

  // The interpreter a script's first line names: the word after "#!", or the word after
  // "env" (and its options and NAME=value words) when that is what it names. Nothing when the
  // text doesn't start with "#!" or names none.
  static std::optional<std::string> scriptInterpreter(const std::string& start);
};

}  // namespace zelto
