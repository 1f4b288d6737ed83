#include "Guard/ProxyChild.h"

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Platform/Env.h"
#include "Platform/Linux/ProcessSpawner.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// The entry of account `name`: nothing when there is none (or it can't be read, logged).
std::optional<ProxyChild::Account> accountNamed(const char* name) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  const int error = ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found);
  if (error != 0) log::warning("Can't look up the account {}: {}", name, std::strerror(error));
  if (found == nullptr) return std::nullopt;
  return ProxyChild::Account{name, entry.pw_uid, entry.pw_gid};
}

// How a reaped child ended, for the log.
std::string endOf(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("ended by ") + ::strsignal(WTERMSIG(status));
  return "ended";
}

}  // namespace

ProxyChild::ProxyChild(RunLoop& loop, Options options, const Clock& clock)
    : loop_(loop), options_(std::move(options)), clock_(clock) {}

ProxyChild::ProxyChild(RunLoop& loop, Options options)
    : ProxyChild(loop, std::move(options), Env::clock()) {}

ProxyChild::~ProxyChild() { stop(); }

Status ProxyChild::start() {
  wanted_ = true;
  if (pid_ > 0 || restartTimer_) return Status::success();
  Status started = spawn();
  if (!started.ok()) scheduleRestart();
  return started;
}

Status ProxyChild::spawn() {
  lastStart_ = clock_.monotonicSeconds();
  std::vector<std::string> arguments{
      options_.programPath,          "--guard-proxy", "--port",
      std::to_string(options_.port), "--locks",       options_.locksFile};
  if (options_.pagePort != 0) {
    arguments.insert(arguments.end(), {"--page-port", std::to_string(options_.pagePort)});
  }
  ProcessSpawner::Options spawnOptions;
  spawnOptions.outputFd = options_.outputFd;
  spawnOptions.uid = options_.uid;
  spawnOptions.gid = options_.gid;
  spawnOptions.endsWithParent = true;  // an orphan would hold the port from the next guard
  Result<ProcessSpawner::Spawned> spawned = ProcessSpawner::spawn(arguments, spawnOptions);
  if (!spawned.ok()) {
    log::error("Can't start the guard's proxy {}: {}", options_.programPath,
               spawned.status().message());
    return Status::failure(spawned.status().kind(), "can't start " + options_.programPath + ": " +
                                                        spawned.status().message());
  }
  pid_ = spawned->pid;
  process_ = std::move(spawned->process);
  ++starts_;
  Status watched =
      process_.isOpen() ? process_.watchEnd(loop_, [this] { ended(); }) : spawned->pidfd;
  if (!watched.ok()) {
    // A child that can't be watched can't be kept running: it is ended rather than left.
    log::error("Can't watch the guard's proxy (pid {}): {}", pid_, watched.message());
    ::kill(pid_, SIGKILL);
    reap();
    return Status::failure("can't watch the proxy: " + watched.message());
  }
  log::info("The guard's proxy runs (pid {}) on port {}", pid_, options_.port);
  return Status::success();
}

void ProxyChild::reap() {
  if (pid_ <= 0) return;
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid_, &status, 0);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid_) {
    log::info("The guard's proxy (pid {}) {}", pid_, endOf(status));
  } else {
    log::error("Can't reap the guard's proxy (pid {}): {}", pid_, std::strerror(errno));
  }
  process_.reset();
  pid_ = -1;
}

void ProxyChild::ended() {
  // The pidfd reads as ended: the child is a zombie, and waitpid returns at once.
  reap();
  if (!wanted_) return;
  const double since = clock_.monotonicSeconds() - lastStart_;
  if (since >= kRestartSeconds) {
    if (spawn().ok()) return;
  }
  scheduleRestart();
}

void ProxyChild::scheduleRestart() {
  const double wait = std::max(0.0, lastStart_ + kRestartSeconds - clock_.monotonicSeconds());
  restartTimer_ = loop_.addTimer(wait, 0, [this] {
    std::unique_ptr<Registration> fired = std::move(restartTimer_);
    if (wanted_ && pid_ <= 0 && !spawn().ok()) scheduleRestart();
  });
}

void ProxyChild::stop() {
  wanted_ = false;
  restartTimer_.reset();
  if (pid_ <= 0) return;
  if (Status killed = process_.sendSignal(SIGKILL); !killed.ok() && !process_.hasEnded()) {
    log::error("Can't end the guard's proxy (pid {}): {}", pid_, killed.message());
  }
  reap();
}

Status ProxyChild::reload() {
  if (pid_ <= 0) return Status::unavailable("the guard's proxy is not running");
  return process_.sendSignal(SIGHUP);
}

Result<ProxyChild::Account> ProxyChild::unprivilegedAccount() {
  std::optional<Account> account = accountNamed(kAccountName);
  if (!account) account = accountNamed("nobody");
  if (!account) {
    return Status::notFound(std::string("neither the account ") + kAccountName +
                            " nor nobody exists");
  }
  if (account->uid == 0 || account->gid == 0) {
    return Status::permissionDenied("the account " + account->name + " is root's");
  }
  return *account;
}

nlohmann::json ProxyChild::locksJson(const std::vector<GuardLock>& locks) {
  nlohmann::json list = nlohmann::json::array();
  for (const GuardLock& lock : locks) list.push_back(lock.toJson());
  return {{"locks", std::move(list)}};
}

}  // namespace zelto
