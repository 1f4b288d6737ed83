#include "Platform/Linux/LinuxProcessTable.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "Platform/Digest.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/FileSystemCalls.h"
#include "Platform/Linux/ProcessSpawner.h"
#include "Platform/Linux/ProcessWatch.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

constexpr const char* kDeletedSuffix = " (deleted)";
// Enough for the interpreter or loader, its options and the file it runs; the rest of a long
// command line is of no use here.
constexpr size_t kMaxCommandLineBytes = 16 * 1024;

std::string procPath(pid_t pid, const char* leaf) {
  return "/proc/" + std::to_string(pid) + "/" + leaf;
}

// The real user of process `pid`, from the first number of its Uid: line.
std::optional<uid_t> realUserOf(pid_t pid) {
  std::ifstream status(procPath(pid, "status"));
  for (std::string line; std::getline(status, line);) {
    if (!line.starts_with("Uid:")) continue;
    char* end = nullptr;
    unsigned long uid = std::strtoul(line.c_str() + 4, &end, 10);
    if (end == line.c_str() + 4) return std::nullopt;
    return static_cast<uid_t>(uid);
  }
  return std::nullopt;
}

// The file process `pid` runs, followed through /proc/PID/exe.
std::optional<FileStatus> executableFileOf(pid_t pid) {
  struct stat st {};
  if (::stat(procPath(pid, "exe").c_str(), &st) != 0) return std::nullopt;
  return statusOf(st);
}

// A process pinned by its pidfd.
class PinnedProcess final : public ProcessTable::Process {
 public:
  PinnedProcess(pid_t pid, ProcessWatch watch) : pid_(pid), watch_(std::move(watch)) {}
  int pid() const override { return pid_; }
  bool hasEnded() const override { return watch_.hasEnded(); }
  Status signal(int number) override {
    Status sent = watch_.sendSignal(number);
    if (sent.ok() || !watch_.hasEnded()) return sent;
    log::debug("Process {} had ended before signal {} reached it", pid_, number);
    return Status::success();
  }

 private:
  pid_t pid_;
  ProcessWatch watch_;
};

// A process known by its number only (no pidfds here): its executable is read again before
// each signal, so that a number taken over by another program is left alone.
class NumberedProcess final : public ProcessTable::Process {
 public:
  NumberedProcess(pid_t pid, std::string executable)
      : pid_(pid), executable_(std::move(executable)) {}
  int pid() const override { return pid_; }
  bool hasEnded() const override {
    auto now = LinuxProcessTable::executableOf(pid_);
    return !now || now->path != executable_;
  }
  Status signal(int number) override {
    if (!hasEnded()) {
      if (::kill(pid_, number) == 0) return Status::success();
      const int reason = errno;
      if (reason != ESRCH) {
        return Status::fromErrno(reason, "signalling process " + std::to_string(pid_));
      }
    }
    log::debug("Process {} had ended before signal {} reached it", pid_, number);
    return Status::success();
  }

 private:
  pid_t pid_;
  std::string executable_;
};

}  // namespace

std::optional<LinuxProcessTable::Executable> LinuxProcessTable::executableOf(pid_t pid) {
  std::vector<char> buffer(4096);
  ssize_t length = ::readlink(procPath(pid, "exe").c_str(), buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::nullopt;
  Executable executable{std::string(buffer.data(), static_cast<size_t>(length)), false};
  const std::string suffix = kDeletedSuffix;
  if (executable.path.size() > suffix.size() && executable.path.ends_with(suffix)) {
    executable.path.resize(executable.path.size() - suffix.size());
    executable.replaced = true;
  }
  return executable;
}

bool LinuxProcessTable::isStopped(pid_t pid) {
  std::ifstream stat(procPath(pid, "stat"));
  std::string line;
  if (!std::getline(stat, line)) return false;
  // "PID (COMMAND) STATE ...": the command may hold spaces and parentheses; the state follows
  // the last ')'.
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T';
}

std::optional<std::vector<pid_t>> LinuxProcessTable::processNumbers() {
  std::error_code error;
  std::filesystem::directory_iterator proc("/proc", error);
  if (error) {
    log::error("Could not read the process table: {}", error.message());
    return std::nullopt;
  }
  std::vector<pid_t> pids;
  for (; !error && proc != std::filesystem::directory_iterator(); proc.increment(error)) {
    std::string name = proc->path().filename().string();
    char* end = nullptr;
    long number = std::strtol(name.c_str(), &end, 10);
    if (end == name.c_str() || *end != '\0' || number <= 0) continue;
    pids.push_back(static_cast<pid_t>(number));
  }
  if (error) log::warning("Reading the process table stopped early: {}", error.message());
  return pids;
}

Result<std::vector<std::string>> LinuxProcessTable::commandLineOf(pid_t pid) {
  const std::string path = procPath(pid, "cmdline");
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return Status::fromErrno("Can't read " + path);
  std::string bytes(kMaxCommandLineBytes, '\0');
  size_t filled = 0;
  while (filled < bytes.size()) {
    Result<size_t> length = file.read(bytes.data() + filled, bytes.size() - filled);
    if (!length.ok()) return length.status().withContext("Can't read " + path);
    if (*length == 0) break;
    filled += *length;
  }
  // Every argument ends with a NUL; what follows the last one was cut at the bound.
  std::vector<std::string> arguments;
  size_t start = 0;
  for (size_t end; start < filled && (end = bytes.find('\0', start)) < filled; start = end + 1) {
    arguments.push_back(bytes.substr(start, end - start));
  }
  return arguments;
}

Result<std::string> LinuxProcessTable::workingDirectoryOf(pid_t pid) {
  std::vector<char> buffer(4096);
  const std::string path = procPath(pid, "cwd");
  ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length <= 0) return Status::fromErrno(length < 0 ? errno : EIO, "Can't read " + path);
  if (static_cast<size_t>(length) >= buffer.size()) return Status::failure(path + ": too long");
  return std::string(buffer.data(), static_cast<size_t>(length));
}

Result<std::string> LinuxProcessTable::executableDigest(int pid) {
  return Digest::sha256HexOfFile(procPath(pid, "exe"));
}

std::optional<ProcessTable::Entry> LinuxProcessTable::describe(int pid) {
  auto executable = executableOf(pid);
  if (!executable || realUserOf(pid) != user_) return std::nullopt;
  return Entry{pid, std::move(executable->path), executable->replaced, executableFileOf(pid)};
}

std::vector<ProcessTable::Entry> LinuxProcessTable::processesOfCurrentUser() {
  std::vector<Entry> entries;
  const uid_t uid = user_;
  for (pid_t pid : processNumbers().value_or(std::vector<pid_t>{})) {
    // The executable first: it can't be read for most processes of other users, and reading
    // it is cheaper than reading the status.
    auto executable = executableOf(pid);
    if (!executable || realUserOf(pid) != uid) continue;
    entries.push_back(
        Entry{pid, std::move(executable->path), executable->replaced, executableFileOf(pid)});
  }
  return entries;
}

Result<std::unique_ptr<ProcessTable::Process>> LinuxProcessTable::open(
    int pid, const std::string& executable) {
  const std::string process = "process " + std::to_string(pid);
  auto watch = ProcessWatch::open(pid);
  // Read after pinning: the process still alive afterwards is the one whose executable was read.
  auto now = executableOf(pid);
  if (!now) return Status::failure(process + " has ended");
  if (now->path != executable) return Status::failure(process + " runs " + now->path + " now");
  if (!watch.ok()) {
    return std::unique_ptr<Process>(std::make_unique<NumberedProcess>(pid, executable));
  }
  if (watch->hasEnded()) return Status::failure(process + " has ended");
  return std::unique_ptr<Process>(std::make_unique<PinnedProcess>(pid, std::move(*watch)));
}

Status LinuxProcessTable::launchDetached(const std::string& executable) {
  if (!ownUser_) {
    return Status::permissionDenied("Not launching " + executable + " for another user");
  }
  auto spawned = ProcessSpawner::spawn({executable}, {.newSession = true, .detach = true});
  if (!spawned.ok()) return spawned.status().withContext("Could not launch " + executable);
  log::debug("Launched {}", executable);
  return Status::success();
}

}  // namespace zelto
