#include "Tools/zeltoctl/ApplicationPath.h"

#include <sstream>
#include <vector>

#include "App/Blocking/BlockedExecutables.h"

namespace zelto {

Result<std::string> ApplicationPath::absolute(const std::string& path,
                                              const std::string& workingDirectory) {
  if (path.empty()) return Status::failure("an empty path");
  if (!path.starts_with('/') && !workingDirectory.starts_with('/')) {
    return Status::failure("the current directory can't be told, so \"" + path +
                           "\" can't be made absolute");
  }
  const std::string whole = path.starts_with('/') ? path : workingDirectory + "/" + path;
  std::vector<std::string> parts;
  std::istringstream components(whole);
  for (std::string part; std::getline(components, part, '/');) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  return out.empty() ? std::string("/") : out;
}

Status ApplicationPath::check(const std::string& path, const FileSystem& fs) {
  Result<FileStatus> found = fs.inspect(path);
  if (found.status().isNotFound()) return Status::notFound("nothing stands at this path");
  if (!found.ok()) return found.status();
  const FileStatus& status = *found;
  if (status.kind == FileStatus::Kind::kDirectory) {
    if (fs.isRegularFile(path + "/Contents/Info.plist") ||
        fs.isDirectory(path + "/Contents/MacOS")) {
      return Status::success();
    }
    return Status::failure(
        "a directory, but no application bundle (neither Contents/Info.plist nor "
        "Contents/MacOS in it)");
  }
  if (status.kind != FileStatus::Kind::kRegular) {
    return Status::failure("neither a regular file nor a directory");
  }
  if (path.ends_with(".desktop")) {
    Result<std::string> text = fs.readFile(path, FileSystem::kMaxResourceBytes);
    if (!text.ok()) return text.status();
    // Read as the application reads it.
    if (BlockedExecutables::desktopEntryProgram(*text)) return Status::success();
    return Status::failure("a .desktop file without an Exec= line in its [Desktop Entry] group");
  }
  if ((status.permissions & 0111) == 0) {
    return Status::failure("a file that is not executable (nor a .desktop file)");
  }
  return Status::success();
}

}  // namespace zelto
