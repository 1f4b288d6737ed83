// ProxyChild: the guard's own filtering proxy, the application's binary run in its proxy mode
// (`Zelto --guard-proxy --port PORT --locks FILE`) as a child process of the guard, under an
// unprivileged account: the user and group are taken on, with no supplementary groups and no way
// back to more privileges, before the program starts, so it never reads a byte from the network
// as root. It decides with the locks of FILE (written by the guard, see `locksJson`, readable by
// that account) and reads it again on `reload`.
//
// While started it is kept running: when the child ends for any reason it is reaped and started
// again at once, but never sooner than kRestartSeconds after the last start, so that a program
// that dies at start can't make the guard spin. A start that fails (the program missing, the
// account refused) is logged and tried again at the same pace.
//
// Owns the child (its pidfd, watched on the loop) and the restart timer; `stop`, or destroying
// it, ends the child and reaps it. The loop's thread only; destroy before the loop.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "App/Guard/GuardLock.h"
#include "Platform/Clock.h"
#include "Platform/Linux/ProcessWatch.h"
#include "Platform/RunLoop.h"
#include "Platform/Status.h"

namespace zelto {

class ProxyChild {
 public:
  static constexpr double kRestartSeconds = 1;
  // The account the proxy runs as when it exists; else "nobody".
  static constexpr const char* kAccountName = "zelto-guard";

  struct Options {
    std::string programPath;  // the application's binary
    int port = 0;
    int pagePort = 0;  // the block page's port; 0: any the system gives the child
    std::string locksFile;
    std::optional<uid_t> uid =
        std::nullopt;  // both, or neither (the child then runs as this process does)
    std::optional<gid_t> gid = std::nullopt;
    int outputFd = STDERR_FILENO;  // where the child logs
  };

  struct Account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
  };

  // Deadlines are read from `clock`'s monotonic time; the loop and the clock outlive it.
  ProxyChild(RunLoop& loop, Options options, const Clock& clock);
  ProxyChild(RunLoop& loop, Options options);
  ~ProxyChild();
  ProxyChild(const ProxyChild&) = delete;
  ProxyChild& operator=(const ProxyChild&) = delete;

  // Starts the child and keeps it running. A failure is the first start's, with its cause; it
  // is tried again every kRestartSeconds all the same, until `stop`.
  Status start();
  // Ends the child (SIGKILL: it keeps nothing worth a graceful end) and reaps it; no restart.
  void stop();
  // Asks the child to read the locks file again (SIGHUP). A child that is being restarted reads
  // it when it starts; so does one signalled before it set up its handler, which SIGHUP ends
  // (and which is then restarted as any child that dies).
  Status reload();

  // The child running now; -1 when none.
  pid_t pid() const { return pid_; }
  // How many times a child was started.
  int starts() const { return starts_; }

  // The account to run the proxy as: kAccountName when the system has it, else "nobody"; a
  // failure when neither exists, or the one found is root.
  static Result<Account> unprivilegedAccount();
  // The locks file's content: {"locks": [each lock's JSON]}.
  static nlohmann::json locksJson(const std::vector<GuardLock>& locks);

 private:
  Status spawn();
  void ended();
  void scheduleRestart();
  void reap();

  RunLoop& loop_;
  Options options_;
  const Clock& clock_;
  bool wanted_ = false;
  pid_t pid_ = -1;
  ProcessWatch process_;
  std::unique_ptr<Registration> restartTimer_;
  double lastStart_ = 0;
  int starts_ = 0;
};

}  // namespace zelto
