#include "App/Data/PageTokens.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "Platform/Log.h"
#include "Platform/SecureRandom.h"

namespace zelto {

PageTokens::PageTokens(FileSystem& fs, const Clock& clock, std::string runtimeFolder)
    : fs_(fs), clock_(clock), runtimeFolder_(std::move(runtimeFolder)) {}

Result<std::string> PageTokens::runtimeFolder(const Directories& directories, FileSystem& fs) {
  if (auto runtime = directories.runtimeDirectory(); runtime && fs.isDirectory(*runtime)) {
    return *runtime;
  }
  auto caches = directories.cachesDirectory();
  if (!caches) return Status::failure("The home directory of the current user is unknown");
  if (!fs.isDirectory(*caches)) {
    if (Status created = fs.createDirectories(*caches); !created.ok()) return created;
  }
  return *caches;
}

bool PageTokens::isHex(std::string_view text, size_t bytes) {
  if (text.size() != bytes * 2) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string PageTokens::folder() const {
  return path::appendingComponent(runtimeFolder_, kFolderName);
}

// The folder is the owner's alone, whoever made it first.
Status PageTokens::makeFolder() {
  const std::string path = folder();
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return Status::failure("Can't make " + path + ": " + std::strerror(errno));
  }
  if (!fs_.isDirectory(path)) return Status::failure(path + " is not a folder");
  if (::chmod(path.c_str(), 0700) != 0) {
    return Status::failure("Can't make " + path + " private: " + std::strerror(errno));
  }
  return Status::success();
}

Result<std::string> PageTokens::mint() {
  if (runtimeFolder_.empty()) return Status::failure("There is no runtime folder for tokens");
  if (Status made = makeFolder(); !made.ok()) return made;
  const double now = clock_.now().secondsSince1970();
  if (auto names = fs_.listDirectory(folder()); names.ok()) {
    for (const std::string& name : *names) {
      const std::string path = path::appendingComponent(folder(), name);
      auto text = fs_.readFile(path, 64);
      double minted = 0;
      if (text.ok()) std::from_chars(text->data(), text->data() + text->size(), minted);
      if (now - minted > kLifetimeSeconds) fs_.removeFile(path).ignoreError();
    }
  }
  Result<std::string> token = SecureRandom::hex(kTokenBytes);
  if (!token.ok()) return token;
  const std::string path = path::appendingComponent(folder(), *token);
  if (Status written = fs_.writeFileAtomically(path, std::to_string(now), 0600); !written.ok()) {
    return written;
  }
  return token;
}

bool PageTokens::redeem(std::string_view token) {
  if (runtimeFolder_.empty() || !isHex(token, kTokenBytes)) return false;
  const std::string path = path::appendingComponent(folder(), std::string(token));
  auto text = fs_.readFile(path, 64);
  if (!text.ok()) return false;
  // Whoever removes the file redeemed it; a second removal fails.
  if (Status removed = fs_.removeFile(path); !removed.ok()) return false;
  double minted = 0;
  const auto parsed = std::from_chars(text->data(), text->data() + text->size(), minted);
  if (parsed.ec != std::errc()) {
    log::warning("The settings page token file {} holds no time", path);
    return false;
  }
  const double age = clock_.now().secondsSince1970() - minted;
  return age >= -1 && age <= kLifetimeSeconds;
}

Result<std::string> PageTokens::sessionSecret() {
  if (runtimeFolder_.empty()) return Status::failure("There is no runtime folder for the session");
  const std::string path = path::appendingComponent(runtimeFolder_, kSecretFileName);
  auto kept = fs_.readFile(path, 256);
  if (kept.ok() && isHex(*kept, kSecretBytes)) return kept;
  if (kept.ok() || !kept.status().isNotFound()) {
    log::warning("The settings page's session secret in {} is unusable ({}); making a new one",
                 path, kept.ok() ? "not a secret" : kept.status().message());
  }
  Result<std::string> secret = SecureRandom::hex(kSecretBytes);
  if (!secret.ok()) return secret;
  if (Status written = fs_.writeFileAtomically(path, *secret, 0600); !written.ok()) return written;
  return secret;
}

}  // namespace zelto
