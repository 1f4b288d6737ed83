// ProgramRecogniser: which blocked file a process runs, whatever name it was started by.
//
// A blocked program is recognised by its file, not only its path. A process runs it when its
// executable (as the process table shows it: the file itself, even removed or in memory only)
// - stands at its path;
// - is the same file: same device and inode (a hard link, a rename, a bind mount);
// - or has the same content: same size, then same SHA-256 (a copy, a run from memory).
// Digests are computed only for a file of exactly the size of a known one, only when such a
// file turns up, and kept per file version (device, inode, size, modification time): a file
// changed since is read again, and one file is read once however many processes run it. The
// process's own file is read through the process, so a removed copy is read all the same.
//
// A program can also run under a program that only reads it:
// - the dynamic loader (its executable's name is a loader's, or it is a known loader's file):
//   the program is the one its command line names past the loader's options. The command line
//   is used rather than the process's memory map: the map names files by device numbers that
//   don't always agree with what stat says (overlay and btrfs file systems), and the loader is
//   the one that read the program, as the command line says, before anything ran;
// - an interpreter (its name is an interpreter's, or it is the file a blocked script's "#!" line
//   names): the script is the one its command line names (see CommandLineProgram), relative to
//   its working directory, matched the same way (a blocked script only: an interpreter can't run
//   a program).
// A loader running an interpreter running a script is followed as well. Command lines and
// working directories are read only for processes that run a loader or an interpreter, and
// only while there is something they could run (a blocked program, a blocked script).
//
// `refresh` reads the status of every known file again; call it once per look at the
// processes, before `blockedFileOf`. Reading files for digests runs on the caller's thread; so
// that many large same-size files (made to stall the blocker) can't hold it for long, a look
// reads at most about `digestBytesPerLook` of them (always one whole file), and a file left out
// is read at a later look.
//
// Ownership: the creator owns it; the process table and the file system must outlive it.
// Threads: one thread at a time.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/ProcessTable.h"

namespace zelto {

class ProgramRecogniser {
 public:
  // Past the first file digested in a look, no more than this is read in it (by default).
  static constexpr uint64_t kDigestBytesPerLook = 256 * 1024 * 1024;

  ProgramRecogniser(ProcessTable& processes, const FileSystem& fs,
                    uint64_t digestBytesPerLook = kDigestBytesPerLook);

  // `programs` and `scripts`: the blocked files (canonical paths; a script in both lists is a
  // script). `interpreters`: the files blocked scripts name as their interpreters.
  void setFiles(const std::vector<std::string>& programs, const std::vector<std::string>& scripts,
                const std::vector<std::string>& interpreters);
  void refresh();

  // The blocked file (its path as given to `setFiles`) that `entry`'s process runs; nothing
  // when it runs none.
  std::optional<std::string> blockedFileOf(const ProcessTable::Entry& entry);

 private:
  enum class Role { kProgram, kScript, kInterpreter, kLoader };
  struct Known {
    std::string path;
    Role role = Role::kProgram;
    std::optional<FileStatus> status;  // as of the last refresh; nothing when it can't be read
  };
  // A file version, as digests are kept.
  using VersionKey = std::tuple<uint64_t, uint64_t, uint64_t, int64_t>;

  bool has(Role role) const;
  // The known file that `status` (of the file at `path`) is. `digest` reads the candidate's
  // content when it comes to that.
  const Known* knownFile(const std::string& path, const std::optional<FileStatus>& status,
                         const std::function<Result<std::string>()>& digest);
  // The blocked file the program named in `arguments` from `programAt` on runs, that program
  // having the role given.
  std::optional<std::string> fromCommandLine(const std::vector<std::string>& arguments,
                                             size_t programAt, Role role, int pid,
                                             const std::string& workingDirectory, int depth);
  // The digest of one file version, read with `read` unless it is known already; nothing when
  // it can't be read (logged), or not yet: past the first file, one look reads no more than
  // digestBytesPerLook_, and the rest waits for the next looks.
  std::optional<std::string> digestOf(const FileStatus& status, const std::string& what,
                                      const std::function<Result<std::string>()>& read);

  ProcessTable& processes_;
  const FileSystem& fs_;
  std::vector<Known> known_;
  std::map<VersionKey, std::string> digests_;
  const uint64_t digestBytesPerLook_;
  uint64_t digestedThisLook_ = 0;  // bytes read for digests since the last refresh
};

}  // namespace zelto
