// BlockedExecutables: the executable files a blocked-application entry names, in the form the
// kernel shows a running program's executable (/proc/PID/exe: absolute, links resolved).
//
// An entry's path is an executable (itself), a desktop entry (the program of its Exec= line,
// looked up on the search path when it has no "/"), or an application bundle (every executable
// regular file in its Contents/MacOS). A program run through an interpreter (a "#!" script)
// shows the interpreter as its executable and can't be told apart by it: such a path is left
// out, with the reason.
//
// Class operations only; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/FileSystem.h"

namespace zelto {

class BlockedExecutables {
 public:
  struct Resolved {
    std::vector<std::string> executables;  // canonical paths, no repeats
    std::vector<std::string> problems;     // one line each: what couldn't be resolved, and why
  };

  // `searchPath`: the directories of PATH, colon-separated.
  static Resolved resolve(const std::string& entryPath, const FileSystem& fs,
                          const std::string& searchPath);

  // The program a desktop entry runs: the first word of the Exec= value of its [Desktop Entry]
  // group, unquoted, past an "env" and its NAME=value words. Nothing when there is none.
  static std::optional<std::string> desktopEntryProgram(const std::string& text);
};

}  // namespace zelto
