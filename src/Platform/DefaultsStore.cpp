#include "Platform/DefaultsStore.h"

#include "Platform/FileSystem.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"

namespace zelto {

namespace {

Status invalidDomain() {
  return Status::failure("A settings domain needs a plain, non-empty file name");
}

}  // namespace

bool DefaultsStore::isValidDomainName(const std::string& domain) {
  return !domain.empty() && domain != "." && domain != ".." &&
         domain.find('/') == std::string::npos && domain.find('\0') == std::string::npos;
}

PlistDefaultsStore::PlistDefaultsStore(FileSystem& fs,
                                       std::function<std::optional<std::string>()> directory)
    : fs_(fs), directory_(std::move(directory)) {}

std::optional<std::string> PlistDefaultsStore::pathForDomain(const std::string& domain) const {
  if (!isValidDomainName(domain)) return std::nullopt;
  auto directory = directory_();
  if (!directory) return std::nullopt;
  return path::appendingComponent(*directory, domain + ".plist");
}

// A settings file that is there but can't be read as settings was loaded as empty, so the values
// about to be saved hold none of it: the file is moved aside to PATH.unreadable (the newest one
// kept) rather than replaced, so that what it held can still be mended by hand.
Status PlistDefaultsStore::keepUnreadableAside(const std::string& path) {
  Result<std::string> bytes = fs_.readFile(path, PropertyList::kMaxBytes);
  if (bytes.status().isNotFound()) return Status::success();
  if (bytes.ok()) {
    auto values = PropertyList::parse(*bytes);
    if (values && values->is_object()) return Status::success();
  }
  const std::string aside = path + ".unreadable";
  Status moved = fs_.renameFile(path, aside);
  if (!moved.ok()) {
    return Status::failure(
        "The settings file " + path +
        " can't be read and can't be moved aside, so it is not replaced: " + moved.message());
  }
  log::warning("The settings file {} could not be read: kept as {}, and replaced", path, aside);
  return Status::success();
}

nlohmann::json PlistDefaultsStore::load(const std::string& domain) {
  auto path = pathForDomain(domain);
  if (!path) return nlohmann::json::object();
  auto bytes = fs_.readFile(*path, PropertyList::kMaxBytes);
  if (!bytes) {
    // No file is no settings; a file that is there but can't be read (too large, no
    // permission) is ignored as loudly as one that doesn't parse.
    if (!bytes.status().isNotFound()) log::warning("Ignoring unreadable settings file {}", *path);
    return nlohmann::json::object();
  }
  auto values = PropertyList::parse(*bytes);
  if (!values || !values->is_object()) {
    log::warning("Ignoring unreadable settings file {}", *path);
    return nlohmann::json::object();
  }
  return *values;
}

Status PlistDefaultsStore::save(const std::string& domain, const nlohmann::json& values) {
  if (!isValidDomainName(domain)) return invalidDomain();
  auto path = pathForDomain(domain);
  if (!path) return Status::failure("The settings directory is unknown");
  auto xml = PropertyList::toXML(values.is_object() ? values : nlohmann::json::object());
  if (!xml) return Status::failure("Can't write the settings of " + domain + " as a property list");
  Status stored = fs_.createDirectories(path::deletingLastComponent(*path));
  if (stored.ok()) stored = keepUnreadableAside(*path);
  if (stored.ok()) stored = fs_.writeFileAtomically(*path, *xml, FileSystem::kPrivateFileMode);
  if (!stored.ok()) log::debug("Can't store settings: {}", stored.message());
  return stored;
}

std::string PlistDefaultsStore::stamp(const std::string& domain) {
  auto path = pathForDomain(domain);
  if (!path) return "";
  Result<FileStatus> st = fs_.inspect(*path);
  if (!st.ok()) return "absent";
  // Modification times may be as coarse as the kernel's tick, so two saves of the same size
  // can share one; every save renames a new file into place, which gets a new inode.
  return std::to_string(st->fileNumber) + ":" + std::to_string(st->modifiedNanoseconds) + ":" +
         std::to_string(st->size);
}

nlohmann::json InMemoryDefaultsStore::load(const std::string& domain) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = domains_.find(domain);
  return it == domains_.end() ? nlohmann::json::object() : it->second;
}

Status InMemoryDefaultsStore::save(const std::string& domain, const nlohmann::json& values) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!isValidDomainName(domain)) return invalidDomain();
  if (failSaves_) return Status::failure("Saving settings is made to fail");
  domains_[domain] = values;
  ++versions_[domain];
  return Status::success();
}

std::string InMemoryDefaultsStore::stamp(const std::string& domain) {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::to_string(versions_[domain]);
}

void InMemoryDefaultsStore::setFailSaves(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failSaves_ = fail;
}

}  // namespace zelto
