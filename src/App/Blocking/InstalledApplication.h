// InstalledApplication: one application the desktop lists in its menus, as InstalledApplications
// finds it. A plain value; any thread.
#pragma once

#include <optional>
#include <string>

namespace zelto {

struct InstalledApplication {
  std::string name;                     // its Name=
  std::string path;                     // its .desktop file: what a blocked-application entry takes
  std::optional<std::string> iconFile;  // a PNG or SVG file of its icon, when one is found
};

}  // namespace zelto
