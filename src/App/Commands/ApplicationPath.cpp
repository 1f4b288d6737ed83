#include "App/Commands/ApplicationPath.h"

#include <sstream>
#include <vector>

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

}  // namespace zelto
