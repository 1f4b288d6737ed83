// InstalledApplications: the applications the desktop lists in its menus, for the user to pick
// the ones to block.
//
// They are the desktop entries (".desktop" files) in the "applications" folder of each data
// folder (Directories::dataDirectories: the user's own first), subfolders included. An entry's
// desktop file ID is its path below "applications" with "/" made "-"; an earlier folder's entry
// hides every later one with the same ID, whatever it says (that is how a user hides or replaces
// a system entry). Listed are those of Type=Application with a Name=, not NoDisplay=true nor
// Hidden=true, whose program BlockedExecutables accepts (an entry that only starts a launcher,
// such as flatpak, could not be blocked), sorted by name without regard to case. Each one's path
// is its .desktop file, which is what a blocked-application entry takes.
//
// The icon is the Icon= value when it is an absolute path of a PNG or SVG file, else the icon of
// that name in the hicolor theme of the data folders (scalable first, then 256, 128, 64 and 48
// pixels), else in the pixmap folders; at most kMaxIconBytes.
//
// Bounded against whatever stands in those folders: at most kMaxEntries entries are read and
// kMaxNames names looked at, files over kMaxEntryBytes or not UTF-8 are skipped, subfolders are
// followed kMaxDepth deep; an entry or folder that can't be read is skipped (with a debug line),
// never fatal.
//
// Class operations only, reading the disk (up to a few thousand small files): any thread, best
// not the loop's.
#pragma once

#include <string>
#include <vector>

#include "App/Blocking/InstalledApplication.h"
#include "Platform/FileSystem.h"

namespace zelto {

class InstalledApplications {
 public:
  static constexpr size_t kMaxEntries = 2000;
  static constexpr size_t kMaxNames = 20000;
  static constexpr uint64_t kMaxEntryBytes = 256 * 1024;
  static constexpr uint64_t kMaxIconBytes = 1024 * 1024;
  static constexpr int kMaxDepth = 4;

  // The applications of this session's data folders, with /usr/share/pixmaps for icons.
  static std::vector<InstalledApplication> list(const FileSystem& fs);
  // The same for the given folders.
  static std::vector<InstalledApplication> list(const FileSystem& fs,
                                                const std::vector<std::string>& dataFolders,
                                                const std::vector<std::string>& pixmapFolders);
};

}  // namespace zelto
