// ZeltoDefaults: the main application's bundle, and the default values shipped inside it.
//
// The bundle is found from the running program: the main application is its own bundle, and
// the agent lives inside it at "/Contents/MacOS/Agent.app". The resource files (blocked hosts,
// quotes, four scripts) sit in the bundle's "/Contents/Resources". Resource lists are UTF-8
// text, one item per line; empty lines and lines starting with "#" are skipped and every
// other line is taken exactly as written.
//
// Class operations only. The bundle comes from Env::mainBundle (see BundleInfo::current); a
// resource file is read again only when its status (inode, size, times) changed, else its text
// is taken from the last read. Thread safety: any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zelto {

class ZeltoDefaults {
 public:
  static std::optional<std::string> getZeltoApplicationPath();
  static std::optional<std::string> getZeltoDefaultsRCPath();
  static std::optional<std::string> getQuotesRCPath();

  static std::optional<std::vector<std::string>> parseResourceFile(
      const std::optional<std::string>& path);

  static std::vector<std::string> getDefaultHosts();
  // Objects with the texts "quote" and "author", in the order of the file.
  static nlohmann::json getDefaultQuotes();

  // The text of the file at the bundle path + `relativePath`, or "" when it can't be read.
  static std::string getScriptAtPath(const std::string& relativePath);
  static std::string getDefaultZeltoScript();
  static std::string getDefaultUnzeltoScript();
  static std::string getDefaultBreakScript();
  static std::string getDefaultUnbreakScript();
};

}  // namespace zelto
