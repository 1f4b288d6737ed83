#include "Guard/GuardEnforcers.h"

#include <sys/stat.h>
#include <unistd.h>

#include "Guard/Enforcement.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

constexpr const char* kRunFolder = "/run/zelto-guard";

}  // namespace

GuardEnforcers::GuardEnforcers(RunLoop& loop, FileWatcher& watcher, const Clock& clock,
                               Options options)
    : options_(std::move(options)), files_(loop, watcher, clock, options_.paths), programs_(loop) {
  auto account = ProxyChild::unprivilegedAccount();
  if (!account.ok()) {
    log::error("The guard's proxy can't run: {}", account.status().message());
    return;
  }
  account_ = *account;
  proxy_ = std::make_unique<ProxyChild>(
      loop, ProxyChild::Options{.programPath = options_.proxyProgram,
                                .port = options_.proxyPort,
                                .pagePort = options_.pagePort,
                                .locksFile = options_.paths.under(kRunFolder) + "/locks.json",
                                .uid = account_->uid,
                                .gid = account_->gid});
}

GuardEnforcers::~GuardEnforcers() = default;

void GuardEnforcers::followWithProxy(const std::vector<GuardLock>& locks) {
  if (!proxy_) return;
  const std::string folder = options_.paths.under(kRunFolder);
  const std::string file = folder + "/locks.json";
  FileSystem& fs = Env::fileSystem();
  if (locks.empty()) {
    proxy_->stop();
    Status removed = fs.removeFile(file);
    if (!removed.ok() && !removed.isNotFound()) log::warning("{}", removed.message());
    return;
  }
  Status written = fs.createDirectories(folder);
  // The folder and the file are root's, readable by the proxy's group alone: the lists are
  // nobody else's business.
  if (written.ok() &&
      (::chown(folder.c_str(), 0, account_->gid) != 0 || ::chmod(folder.c_str(), 0750) != 0)) {
    written = Status::fromErrno("Can't make " + folder + " the proxy's");
  }
  if (written.ok()) {
    written = fs.writeFileAtomically(file, ProxyChild::locksJson(locks).dump(), 0640);
  }
  if (written.ok() && ::chown(file.c_str(), 0, account_->gid) != 0) {
    written = Status::fromErrno("Can't make " + file + " the proxy's");
  }
  if (!written.ok()) {
    // The proxy keeps the lists it has; a new one finds none and blocks by the policies alone.
    log::error("Can't hand the locks to the guard's proxy: {}", written.message());
  }
  Status asked = proxy_->pid() > 0 ? proxy_->reload() : proxy_->start();
  if (!asked.ok()) log::error("The guard's proxy: {}", asked.message());
}

void GuardEnforcers::follow(const std::map<uid_t, GuardLock>& running) {
  std::vector<GuardLock> locks;
  for (const auto& [uid, lock] : running) locks.push_back(lock);
  // Failures are logged where they happen, and retried there.
  if (locks.empty()) {
    files_.clear().ignoreError();
  } else {
    files_.apply(Enforcement::of(locks, options_.proxyPort)).ignoreError();
  }
  followWithProxy(locks);
  programs_.follow(running);
}

}  // namespace zelto
