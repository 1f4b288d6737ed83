#include "App/Blocking/InstalledApplications.h"

#include <strings.h>

#include <algorithm>
#include <set>

#include "App/Blocking/BlockedExecutables.h"
#include "App/Blocking/DesktopEntry.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// The desktop entries found so far, in the order that decides which of the same ID counts.
struct Scan {
  const FileSystem& fs;
  std::set<std::string> ids;
  std::vector<std::string> paths;
  size_t looked = 0;  // names looked at, in every folder

  bool full() const {
    return paths.size() >= InstalledApplications::kMaxEntries ||
           looked >= InstalledApplications::kMaxNames;
  }

  void folder(const std::string& directory, const std::string& idPrefix, int depth) {
    Result<std::vector<std::string>> names = fs.listDirectory(directory);
    if (!names.ok()) {
      if (!names.status().isNotFound()) {
        log::debug("Applications in {} not listed: {}", directory, names.status().message());
      }
      return;
    }
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) {
      if (full()) return;
      ++looked;
      const std::string path = path::appendingComponent(directory, name);
      if (name.ends_with(".desktop")) {
        if (ids.insert(idPrefix + name).second) paths.push_back(path);
      } else if (depth < InstalledApplications::kMaxDepth && fs.isDirectory(path)) {
        folder(path, idPrefix + name + "-", depth + 1);
      }
    }
  }
};

std::optional<std::string> smallFile(const FileSystem& fs, const std::string& path) {
  auto status = fs.inspect(path).toOptional();
  if (!status || status->kind != FileStatus::Kind::kRegular ||
      status->size > InstalledApplications::kMaxIconBytes) {
    return std::nullopt;
  }
  return path;
}

std::optional<std::string> iconFile(const FileSystem& fs, const std::string& icon,
                                    const std::vector<std::string>& dataFolders,
                                    const std::vector<std::string>& pixmapFolders) {
  if (icon.starts_with('/')) {
    if (!icon.ends_with(".png") && !icon.ends_with(".svg")) return std::nullopt;
    return smallFile(fs, icon);
  }
  if (icon.empty() || icon.find('/') != std::string::npos || icon.starts_with('.')) {
    return std::nullopt;
  }
  for (const char* size : {"scalable", "256x256", "128x128", "64x64", "48x48"}) {
    const std::string file = std::string("/icons/hicolor/") + size + "/apps/" + icon +
                             (size == std::string("scalable") ? ".svg" : ".png");
    for (const std::string& folder : dataFolders) {
      if (auto found = smallFile(fs, folder + file)) return found;
    }
  }
  for (const std::string& folder : pixmapFolders) {
    for (const char* extension : {".png", ".svg"}) {
      if (auto found = smallFile(fs, folder + "/" + icon + extension)) return found;
    }
  }
  return std::nullopt;
}

// The application an entry shows, or nothing when it shows none.
std::optional<InstalledApplication> application(const FileSystem& fs, const std::string& path,
                                                const std::vector<std::string>& dataFolders,
                                                const std::vector<std::string>& pixmapFolders) {
  if (!isValidUTF8(path)) return std::nullopt;
  Result<std::string> text = fs.readUTF8File(path, InstalledApplications::kMaxEntryBytes);
  if (!text.ok()) {
    log::debug("Application entry skipped: {}", text.status().message());
    return std::nullopt;
  }
  const DesktopEntry entry(*text);
  const std::string name = entry.string("Name").value_or("");
  if (entry.rawValue("Type") != "Application" || name.empty() || entry.isTrue("NoDisplay") ||
      entry.isTrue("Hidden") || !BlockedExecutables::desktopEntryProgram(*text).ok()) {
    return std::nullopt;
  }
  return InstalledApplication{
      name, path, iconFile(fs, entry.string("Icon").value_or(""), dataFolders, pixmapFolders)};
}

}  // namespace

std::vector<InstalledApplication> InstalledApplications::list(const FileSystem& fs) {
  return list(fs, Env::directories().dataDirectories(), {"/usr/share/pixmaps"});
}

std::vector<InstalledApplication> InstalledApplications::list(
    const FileSystem& fs, const std::vector<std::string>& dataFolders,
    const std::vector<std::string>& pixmapFolders) {
  Scan scan{fs, {}, {}};
  for (const std::string& folder : dataFolders) {
    scan.folder(path::appendingComponent(folder, "applications"), "", 0);
  }
  if (scan.full()) {
    log::debug("Applications listed from part of their folders only ({} entries, {} names)",
               scan.paths.size(), scan.looked);
  }
  std::vector<InstalledApplication> applications;
  for (const std::string& path : scan.paths) {
    if (auto found = application(fs, path, dataFolders, pixmapFolders)) {
      applications.push_back(std::move(*found));
    }
  }
  std::sort(applications.begin(), applications.end(),
            [](const InstalledApplication& a, const InstalledApplication& b) {
              const int order = ::strcasecmp(a.name.c_str(), b.name.c_str());
              return order != 0 ? order < 0 : a.path < b.path;
            });
  return applications;
}

}  // namespace zelto
