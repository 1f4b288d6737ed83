#include "App/Blocking/ProgramRecogniser.h"

#include <algorithm>

#include "Platform/CommandLineProgram.h"
#include "Platform/Digest.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// Digests kept at most; past that the cache starts over (one digest per program file of the
// machine is far less).
constexpr size_t kMaxDigests = 4096;
// A loader running an interpreter running a script: no deeper.
constexpr int kMaxDepth = 2;

bool isRegular(const std::optional<FileStatus>& status) {
  return status && status->kind == FileStatus::Kind::kRegular;
}

}  // namespace

ProgramRecogniser::ProgramRecogniser(ProcessTable& processes, const FileSystem& fs,
                                     uint64_t digestBytesPerLook)
    : processes_(processes), fs_(fs), digestBytesPerLook_(digestBytesPerLook) {}

void ProgramRecogniser::setFiles(const std::vector<std::string>& programs,
                                 const std::vector<std::string>& scripts,
                                 const std::vector<std::string>& interpreters) {
  known_.clear();
  auto add = [this](const std::string& path, Role role) {
    auto same = [&](const Known& known) { return known.path == path; };
    if (std::none_of(known_.begin(), known_.end(), same)) known_.push_back({path, role, {}});
  };
  for (const auto& script : scripts) add(script, Role::kScript);
  for (const auto& program : programs) add(program, Role::kProgram);
  if (!scripts.empty()) {
    for (const auto& interpreter : interpreters) add(interpreter, Role::kInterpreter);
  }
  if (!known_.empty()) {
    for (const auto& loader : CommandLineProgram::commonLoaderPaths()) {
      Result<std::string> canonical = fs_.canonicalPath(loader);
      if (canonical.ok()) add(*canonical, Role::kLoader);
    }
  }
  refresh();
}

void ProgramRecogniser::refresh() {
  digestedThisLook_ = 0;
  for (Known& known : known_) {
    known.status = fs_.inspect(known.path).toOptional();
    if (!isRegular(known.status)) known.status.reset();
  }
}

bool ProgramRecogniser::has(Role role) const {
  return std::any_of(known_.begin(), known_.end(),
                     [role](const Known& known) { return known.role == role; });
}

std::optional<std::string> ProgramRecogniser::blockedFileOf(const ProcessTable::Entry& entry) {
  if (known_.empty()) return std::nullopt;
  const Known* known = knownFile(entry.executable, entry.file,
                                 [&] { return processes_.executableDigest(entry.pid); });
  Role role;
  if (known && known->role == Role::kProgram) return known->path;
  if (known && (known->role == Role::kLoader || known->role == Role::kInterpreter)) {
    role = known->role;
  } else if (CommandLineProgram::isLoaderName(entry.executable)) {
    role = Role::kLoader;
  } else if (CommandLineProgram::isInterpreterName(entry.executable)) {
    role = Role::kInterpreter;
  } else {
    return std::nullopt;
  }
  if (role == Role::kInterpreter && !has(Role::kScript)) return std::nullopt;
  Result<std::vector<std::string>> arguments = processes_.commandLine(entry.pid);
  if (!arguments.ok()) {
    log::debug("Not looking at what process {} runs: {}", entry.pid, arguments.status().message());
    return std::nullopt;
  }
  // Without its working directory, only absolute paths can be told.
  Result<std::string> workingDirectory = processes_.workingDirectory(entry.pid);
  return fromCommandLine(*arguments, 0, role, entry.pid,
                         workingDirectory.ok() ? *workingDirectory : std::string(), 0);
}

std::optional<std::string> ProgramRecogniser::fromCommandLine(
    const std::vector<std::string>& arguments, size_t programAt, Role role, int pid,
    const std::string& workingDirectory, int depth) {
  if (programAt >= arguments.size()) return std::nullopt;
  const std::vector<std::string> own(arguments.begin() + static_cast<ptrdiff_t>(programAt),
                                     arguments.end());
  auto fileNamed = [&](const std::string& argument) -> std::pair<std::string, const Known*> {
    const std::string path = CommandLineProgram::absoluteAgainst(argument, workingDirectory);
    if (path.empty()) return {path, nullptr};
    return {path, knownFile(path, fs_.inspect(path).toOptional(),
                            [&] { return Digest::sha256HexOfFile(path); })};
  };
  if (role == Role::kInterpreter) {
    for (const std::string& candidate : CommandLineProgram::scriptCandidates(own)) {
      auto [path, known] = fileNamed(candidate);
      if (known && known->role == Role::kScript) return known->path;
    }
    return std::nullopt;
  }
  std::optional<size_t> program = CommandLineProgram::loaderProgramIndex(own);
  if (!program) return std::nullopt;
  auto [path, known] = fileNamed(own[*program]);
  if (known && known->role == Role::kProgram) return known->path;
  const bool interpreter = known ? known->role == Role::kInterpreter
                                 : !path.empty() && CommandLineProgram::isInterpreterName(path);
  if (!interpreter || depth >= kMaxDepth || !has(Role::kScript)) return std::nullopt;
  return fromCommandLine(arguments, programAt + *program, Role::kInterpreter, pid, workingDirectory,
                         depth + 1);
}

const ProgramRecogniser::Known* ProgramRecogniser::knownFile(
    const std::string& path, const std::optional<FileStatus>& status,
    const std::function<Result<std::string>()>& digest) {
  for (const Known& known : known_) {
    if (known.path == path) return &known;
  }
  if (!isRegular(status)) return nullptr;
  for (const Known& known : known_) {
    if (known.status && known.status->device == status->device &&
        known.status->fileNumber == status->fileNumber) {
      return &known;
    }
  }
  if (status->size == 0) return nullptr;  // nothing to tell apart
  std::optional<std::string> mine;
  for (const Known& known : known_) {
    if (!known.status || known.status->size != status->size) continue;
    if (!mine) {
      mine = digestOf(*status, path, digest);
      if (!mine) return nullptr;
    }
    auto theirs =
        digestOf(*known.status, known.path, [&] { return Digest::sha256HexOfFile(known.path); });
    if (theirs == mine) return &known;
  }
  return nullptr;
}

std::optional<std::string> ProgramRecogniser::digestOf(
    const FileStatus& status, const std::string& what,
    const std::function<Result<std::string>()>& read) {
  const VersionKey key{status.device, status.fileNumber, status.size, status.modifiedNanoseconds};
  auto cached = digests_.find(key);
  if (cached != digests_.end()) return cached->second;
  if (digestedThisLook_ > 0 && digestedThisLook_ + status.size > digestBytesPerLook_) {
    log::debug("Comparing {} with the blocked programs at a later look", what);
    return std::nullopt;
  }
  digestedThisLook_ += status.size;
  Result<std::string> digest = read();
  if (!digest.ok()) {
    log::debug("Can't compare {} with the blocked programs: {}", what, digest.status().message());
    return std::nullopt;
  }
  if (digests_.size() >= kMaxDigests) digests_.clear();
  digests_.emplace(key, *digest);
  return *digest;
}

}  // namespace zelto
