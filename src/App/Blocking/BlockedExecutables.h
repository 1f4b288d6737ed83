// BlockedExecutables: the executable files a blocked-application entry names, in the form the
// kernel shows a running program's executable (/proc/PID/exe: absolute, links resolved).
//
// An entry's path is an executable (itself), a desktop entry (the program of its Exec= line,
// looked up on the search path when it has no "/"), or an application bundle (every executable
// regular file in its Contents/MacOS). A "#!" script is an executable too, and is also listed
// among the scripts: its running copies show its interpreter as their executable, and are told
// by the script their command line names. The interpreter its "#!" line names (past an "env",
// found on the search path) is listed as well, when it can be found, so that a copy of it under
// another name is still known for one.
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
    std::vector<std::string> executables;   // canonical paths, no repeats
    std::vector<std::string> scripts;       // those of them that are "#!" scripts
    std::vector<std::string> interpreters;  // canonical paths of the scripts' interpreters
    std::vector<std::string> problems;      // one line each: what couldn't be resolved, and why
  };

  // `searchPath`: the directories of PATH, colon-separated.
  static Resolved resolve(const std::string& entryPath, const FileSystem& fs,
                          const std::string& searchPath);

  // The program a desktop entry runs: the first word of the Exec= value of its [Desktop Entry]
  // group, unquoted, past an "env" and its NAME=value words. Nothing when there is none.
  static std::optional<std::string> desktopEntryProgram(const std::string& text);

  // The interpreter a script's first line names: the word after "#!", or the word after
  // "env" (and its options and NAME=value words) when that is what it names. Nothing when the
  // text doesn't start with "#!" or names none.
  static std::optional<std::string> scriptInterpreter(const std::string& start);
};

}  // namespace zelto
