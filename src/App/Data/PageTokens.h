// PageTokens: the keys to the settings page. zeltoctl mints a one-time token (mint) and opens
// the page's /session address with it; the application redeems it (redeem) and hands the
// browser the session secret (sessionSecret) as a cookie.
//
// Both live in the application's runtime folder (runtimeFolder: where it keeps its instance
// lock and phase memory): each token is a 0600 file named after it, holding the moment it was
// minted, in the 0700 folder "page-tokens"; a token is good for kLifetimeSeconds and once (the
// file's removal succeeds once). The secret is 32 random bytes in hexadecimal, kept 0600 in
// "page-session", so that a session outlives a restart of the application.
//
// Ownership: the file system and clock given outlive it. Threads: the one that made it.
#pragma once

#include <string>
#include <string_view>

#include "Platform/Clock.h"
#include "Platform/Directories.h"
#include "Platform/FileSystem.h"
#include "Platform/Status.h"

namespace zelto {

class PageTokens {
 public:
  static constexpr double kLifetimeSeconds = 120;
  static constexpr const char* kFolderName = "page-tokens";
  static constexpr const char* kSecretFileName = "page-session";
  static constexpr size_t kTokenBytes = 16;   // 32 hexadecimal characters
  static constexpr size_t kSecretBytes = 32;  // 64 hexadecimal characters

  PageTokens(FileSystem& fs, const Clock& clock, std::string runtimeFolder);

  // The application's runtime folder: $XDG_RUNTIME_DIR when it is a folder, else its caches
  // folder (made when missing).
  static Result<std::string> runtimeFolder(const Directories& directories, FileSystem& fs);

  // A new token, its file written; tokens past their time are swept away on the way.
  Result<std::string> mint();
  // Whether `token` was minted, is within its time, and was not redeemed before; it is used up
  // either way.
  bool redeem(std::string_view token);
  // The session secret, made (and kept) the first time.
  Result<std::string> sessionSecret();

  // Whether `text` is `bytes` random bytes in lower-case hexadecimal.
  static bool isHex(std::string_view text, size_t bytes);

 private:
  std::string folder() const;
  Status makeFolder();

  FileSystem& fs_;
  const Clock& clock_;
  std::string runtimeFolder_;
};

}  // namespace zelto
