#include "App/Blocking/BlockedExecutables.h"

#include <algorithm>
#include <sstream>

namespace zelto {

namespace {

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The words of an Exec= value: separated by blanks, double quotes grouping, backslash escaping
// inside them (the desktop entry rules).
std::vector<std::string> execWords(const std::string& value) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
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

bool isExecutableFile(const FileSystem& fs, const std::string& path) {
  auto status = fs.status(path);
  return status && status->kind == FileStatus::Kind::kRegular && (status->permissions & 0111);
}

// Whether the file starts with "#!": run through an interpreter. Only its first two bytes are
// read, whatever its size (a browser's program is hundreds of megabytes).
Result<bool> isScript(const FileSystem& fs, const std::string& path) {
  Result<std::string> start = fs.readStart(path, 2);
  if (!start.ok()) return start.status();
  return *start == "#!";
}

void addExecutable(const FileSystem& fs, const std::string& path,
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
  Result<bool> script = isScript(fs, *canonical);
  if (!script.ok()) {
    out.problems.push_back(script.status().message());
    return;
  }
  if (*script) {
    out.problems.push_back(path + ": a script, whose running copies show only its interpreter");
    return;
  }
  if (std::find(out.executables.begin(), out.executables.end(), *canonical) ==
      out.executables.end()) {
    out.executables.push_back(*canonical);
  }
}

}  // namespace

std::optional<std::string> BlockedExecutables::desktopEntryProgram(const std::string& text) {
  bool inEntry = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    line = trimmed(line);
    if (line.starts_with('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    const size_t equals = line.find('=');
    if (!inEntry || equals == std::string::npos || trimmed(line.substr(0, equals)) != "Exec") {
      continue;
    }
    std::vector<std::string> words = execWords(trimmed(line.substr(equals + 1)));
    size_t at = 0;
    if (at < words.size() && (words[at] == "env" || words[at] == "/usr/bin/env")) {
      ++at;
      while (at < words.size() && isAssignment(words[at])) ++at;
    }
    if (at < words.size() && !words[at].empty()) return words[at];
    return std::nullopt;
  }
  return std::nullopt;
}

BlockedExecutables::Resolved BlockedExecutables::resolve(const std::string& entryPath,
                                                         const FileSystem& fs,
                                                         const std::string& searchPath) {
  Resolved out;
  auto status = fs.status(entryPath);
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
      if (isExecutableFile(fs, folder + "/" + name)) addExecutable(fs, folder + "/" + name, out);
    }
    if (out.executables.empty() && out.problems.empty()) {
      out.problems.push_back(folder + ": no executable in it");
    }
    return out;
  }
  if (!entryPath.ends_with(".desktop")) {
    addExecutable(fs, entryPath, out);
    return out;
  }
  Result<std::string> text = fs.readFile(entryPath, FileSystem::kMaxResourceBytes);
  std::optional<std::string> program =
      text.ok() ? desktopEntryProgram(*text) : std::optional<std::string>();
  if (!program) {
    out.problems.push_back(entryPath + ": no program in its Exec= line");
    return out;
  }
  if (program->find('/') != std::string::npos) {
    addExecutable(fs, *program, out);
    return out;
  }
  std::istringstream directories(searchPath);
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (!directory.starts_with('/')) continue;  // a relative PATH entry names nothing fixed
    if (isExecutableFile(fs, directory + "/" + *program)) {
      addExecutable(fs, directory + "/" + *program, out);
      return out;
    }
  }
  out.problems.push_back(entryPath + ": \"" + *program + "\" is not on the search path");
  return out;
}

}  // namespace zelto
