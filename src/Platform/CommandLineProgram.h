// CommandLineProgram: which file a process runs when its executable is only the program that
// reads it: an interpreter running a script, or the dynamic loader running a program.
//
// The kernel starts a "#!" script as: interpreter [the #! line's one optional argument] script
// arguments..., the script named as the exec named it (relative to the working directory when
// it has no leading "/"). A script started by hand looks the same, with the interpreter's own
// options before it. The loader started by hand (ld.so [options] program arguments...) takes
// its options first, some of them with a value.
//
// Executables are told by name only: what the name says is cheap to know, and callers that
// need more compare the file itself. Class operations only, no state; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelto {

class CommandLineProgram {
 public:
  // Whether the executable's file name is the one of a common script interpreter (shells,
  // Python, Perl, Ruby, Node, Tcl, Lua...), with or without a version ("python3.11").
  static bool isInterpreterName(const std::string& executablePath);
  // Whether the executable's file name is the one of the dynamic loader (ld-linux-x86-64.so.2,
  // ld.so, ld64.so.2, ld-musl-x86_64.so.1...).
  static bool isLoaderName(const std::string& executablePath);

  // Where this system's dynamic loaders usually stand (links not resolved, some missing).
  static std::vector<std::string> commonLoaderPaths();

  // The arguments that may name the script an interpreter runs: the first one that is no
  // option ("-e", "-x -u"), and, when that one names an interpreter, the one after it (an
  // interpreter started as "busybox sh script"). At most two; none when every argument is an
  // option.
  static std::vector<std::string> scriptCandidates(const std::vector<std::string>& arguments);
  // The index in `arguments` (arguments[0] being the loader) of the program the loader runs,
  // past the loader's options; nothing when there is none (the loader asked for its help or
  // version, say).
  static std::optional<size_t> loaderProgramIndex(const std::vector<std::string>& arguments);

  // `path` made absolute against `workingDirectory` when it is relative; "" when it is empty or
  // the working directory is unknown (empty).
  static std::string absoluteAgainst(const std::string& path, const std::string& workingDirectory);
};

}  // namespace zelto
