#include "App/Blocking/BlockedExecutables.h"

#include <algorithm>
#include <sstream>

#include "App/Blocking/DesktopEntry.h"

namespace zelto {

namespace {

// The words of an Exec= value: separated by blanks, double quotes grouping, backslash escaping
// inside them (the desktop entry rules); "%%" is a "%".
std::vector<std::string> execWords(const std::string& escaped) {
  const std::string value = DesktopEntry::unescaped(escaped);
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '%' && i + 1 < value.size() && value[i + 1] == '%') {
      word += value[++i];
      inWord = true;
      continue;
    }
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else if (c == '\\' && i + 1 < value.size()) {
        word += value[++i];
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

bool isAssignment(const std::string& word) {
  const size_t equals = word.find('=');
  return equals != std::string::npos && equals > 0 && word.find('/') > equals;
}

// Programs that start other programs: blocking one would end everything it starts.
bool isLauncher(const std::string& program) {
  const std::string name = program.substr(program.rfind('/') + 1);
  for (const char* launcher : {"flatpak", "snap", "sh", "bash", "dash", "zsh", "xdg-open",
                               "gtk-launch", "gio", "exo-open", "kioclient5", "kioclient"}) {
    if (name == launcher) return true;
  }
  return false;
}

bool isExecutableFile(const FileSystem& fs, const std::string& path) {
  auto status = fs.inspect(path).toOptional();
  return status && status->kind == FileStatus::Kind::kRegular && (status->permissions & 0111);
}

// A script's first line is read up to this many bytes, whatever the file's size (a browser's
// program is hundreds of megabytes).
constexpr size_t kMaxFirstLineBytes = 256;

void addOnce(std::vector<std::string>& list, const std::string& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// The interpreter a script names, canonical; nothing when it can't be found.
std::optional<std::string> interpreterPath(const FileSystem& fs, const std::string& start,
                                           const std::string& searchPath) {
  std::optional<std::string> name = BlockedExecutables::scriptInterpreter(start);
  if (!name) return std::nullopt;
  std::vector<std::string> places;
  if (name->find('/') != std::string::npos) {
    places.push_back(*name);
  } else {
    std::istringstream directories(searchPath);
    for (std::string directory; std::getline(directories, directory, ':');) {
      if (directory.starts_with('/')) places.push_back(directory + "/" + *name);
    }
  }
  for (const std::string& place : places) {
    if (!isExecutableFile(fs, place)) continue;
    Result<std::string> canonical = fs.canonicalPath(place);
    if (canonical.ok()) return *canonical;
  }
  return std::nullopt;
}

void addExecutable(const FileSystem& fs, const std::string& path, const std::string& searchPath,
                   BlockedExecutables::Resolved& out) {
  if (!isExecutableFile(fs, path)) {
    out.problems.push_back(path + ": not an executable file");
    return;
  }
  Result<std::string> canonical = fs.canonicalPath(path);
  if (!canonical.ok()) {
    out.problems.push_back(canonical.status().message());
    return;
  }
  Result<std::string> start = fs.readStart(*canonical, kMaxFirstLineBytes);
  if (!start.ok()) {
    out.problems.push_back(start.status().message());
    return;
  }
  addOnce(out.executables, *canonical);
  if (!start->starts_with("#!")) return;
  addOnce(out.scripts, *canonical);
  if (auto interpreter = interpreterPath(fs, *start, searchPath)) {
    addOnce(out.interpreters, *interpreter);
  }
}

}  // namespace

std::optional<std::string> BlockedExecutables::scriptInterpreter(const std::string& start) {
  if (!start.starts_with("#!")) return std::nullopt;
  std::istringstream line(start.substr(2, start.find('\n') - 2));
  std::vector<std::string> words;
  for (std::string word; line >> word;) words.push_back(word);
  if (words.empty()) return std::nullopt;
  if (words[0] != "/usr/bin/env" && words[0] != "/bin/env") return words[0];
  for (size_t at = 1; at < words.size(); ++at) {
    if (!words[at].starts_with('-') && !isAssignment(words[at])) return words[at];
  }
  return std::nullopt;
}

Result<std::string> BlockedExecutables::desktopEntryProgram(const std::string& text) {
  std::optional<std::string> exec = DesktopEntry(text).rawValue("Exec");
  if (!exec) return Status::failure("no Exec= line in its [Desktop Entry] group");
  std::vector<std::string> words = execWords(*exec);
  size_t at = 0;
  if (at < words.size() &&
      (words[at] == "env" || words[at] == "/usr/bin/env" || words[at] == "/bin/env")) {
    ++at;
    // Its options ("-u NAME" takes the next word) and the variables it sets.
    while (at < words.size() && (isAssignment(words[at]) || words[at].starts_with('-'))) {
      const bool takesWord = words[at] == "-u" || words[at] == "-C" || words[at] == "-S";
      const bool last = words[at] == "--";
      at += takesWord ? 2 : 1;
      if (last) break;
    }
  }
  if (at >= words.size() || words[at].empty()) {
    return Status::failure("no program in its Exec= line");
  }
  if (isLauncher(words[at])) {
    return Status::failure("its Exec= line runs \"" + words[at] +
                           "\", which starts other programs");
  }
  return words[at];
}

Status BlockedExecutables::checkEntry(const std::string& path, const FileSystem& fs) {
  Result<FileStatus> found = fs.inspect(path);
  if (found.status().isNotFound()) return Status::notFound("nothing stands at this path");
  if (!found.ok()) return found.status();
  const FileStatus& status = *found;
  if (status.kind == FileStatus::Kind::kDirectory) {
    if (fs.isDirectory(path + "/Contents/MacOS")) return Status::success();
    return Status::failure("a directory, but no application bundle (no Contents/MacOS in it)");
  }
  if (status.kind != FileStatus::Kind::kRegular) {
    return Status::failure("neither a regular file nor a directory");
  }
  if (path.ends_with(".desktop")) {
    Result<std::string> text = fs.readFile(path, FileSystem::kMaxResourceBytes);
    if (!text.ok()) return text.status();
    Result<std::string> program = desktopEntryProgram(*text);
    if (!program.ok()) return Status::failure("a .desktop file, but " + program.status().message());
    return Status::success();
  }
  if ((status.permissions & 0111) == 0) {
    return Status::failure("a file that is not executable (nor a .desktop file)");
  }
  return Status::success();
}

BlockedExecutables::Resolved BlockedExecutables::resolve(const std::string& entryPath,
                                                         const FileSystem& fs,
                                                         const std::string& searchPath) {
  Resolved out;
  auto status = fs.inspect(entryPath).toOptional();
  if (!status) {
    out.problems.push_back(entryPath + ": nothing stands there");
    return out;
  }
  if (status->kind == FileStatus::Kind::kDirectory) {
    const std::string folder = entryPath + "/Contents/MacOS";
    Result<std::vector<std::string>> names = fs.listDirectory(folder);
    if (!names.ok()) {
      out.problems.push_back(names.status().message());
      return out;
    }
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) {
      if (isExecutableFile(fs, folder + "/" + name))
        addExecutable(fs, folder + "/" + name, searchPath, out);
    }
    if (out.executables.empty() && out.problems.empty()) {
      out.problems.push_back(folder + ": no executable in it");
    }
    return out;
  }
  if (!entryPath.ends_with(".desktop")) {
    addExecutable(fs, entryPath, searchPath, out);
    return out;
  }
  Result<std::string> text = fs.readFile(entryPath, FileSystem::kMaxResourceBytes);
  if (!text.ok()) {
    out.problems.push_back(text.status().message());
    return out;
  }
  Result<std::string> program = desktopEntryProgram(*text);
  if (!program.ok()) {
    out.problems.push_back(entryPath + ": " + program.status().message());
    return out;
  }
  if (program->find('/') != std::string::npos) {
    addExecutable(fs, *program, searchPath, out);
    return out;
  }
  std::istringstream directories(searchPath);
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (!directory.starts_with('/')) continue;  // a relative PATH entry names nothing fixed
    if (isExecutableFile(fs, directory + "/" + *program)) {
      addExecutable(fs, directory + "/" + *program, searchPath, out);
      return out;
    }
  }
  out.problems.push_back(entryPath + ": \"" + *program + "\" is not on the search path");
  return out;
}

}  // namespace zelto
