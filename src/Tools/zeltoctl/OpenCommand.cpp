#include "Tools/zeltoctl/OpenCommand.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "App/Commands/QuietLog.h"
#include "App/Controller/Zelto.h"
#include "App/Data/ApplicationPorts.h"
#include "App/Data/PageTokens.h"
#include "Platform/BundleInfo.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/ProcessSpawner.h"
#include "Platform/ProcessInfo.h"

namespace zelto {

namespace {

int fail(const std::string& reason) {
  std::fprintf(stderr, "zeltoctl: %s\n", reason.c_str());
  return CommandOutcome::kRefused;
}

// One look: a connection, a request, the start of an HTTP answer.
bool answersOnce(int port, double timeoutSeconds) {
  FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return false;
  const auto micros = static_cast<long>(timeoutSeconds * 1e6);
  timeval limit{micros / 1000000, micros % 1000000};
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  const std::string request =
      "HEAD /zelto.svg HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
      "\r\nConnection: close\r\n\r\n";
  if (!socket.writeAll(request).ok()) return false;
  char start[8];
  size_t got = 0;
  while (got < sizeof start) {
    Result<size_t> read = socket.read(start + got, sizeof start - got);
    if (!read.ok() || *read == 0) break;
    got += *read;
  }
  return std::string_view(start, got) == "HTTP/1.1";
}

// `name` found on PATH as an executable file.
std::optional<std::string> onPath(const std::string& name) {
  const std::string path = ProcessInfo::environmentValue("PATH").value_or("/usr/bin:/bin");
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = std::min(path.find(':', start), path.size());
    const std::string folder = path.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = folder + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0 && Env::fileSystem().isRegularFile(candidate)) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return std::nullopt;
}

// Runs xdg-open on `url` and waits for it; the reason when it fails.
Status openInBrowser(const std::string& url) {
  const std::optional<std::string> opener = onPath("xdg-open");
  if (!opener) return Status::notFound("xdg-open is not installed (not found on PATH)");
  auto spawned = ProcessSpawner::spawn({*opener, url}, {});
  if (!spawned.ok())
    return Status::failure("xdg-open could not start: " + spawned.status().message());
  int status = 0;
  while (::waitpid(spawned->pid, &status, 0) < 0) {
    if (errno != EINTR)
      return Status::failure("xdg-open was lost: " + std::string(strerror(errno)));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return Status::failure("xdg-open failed (status " +
                           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")");
  }
  return Status::success();
}

}  // namespace

bool OpenCommand::pageAnswers(int port, double timeoutSeconds) {
  Clock& clock = Env::clock();
  const double deadline = clock.monotonicSeconds() + timeoutSeconds;
  for (;;) {
    const double left = deadline - clock.monotonicSeconds();
    if (left <= 0) return false;
    if (answersOnce(port, std::min(left, 1.0))) return true;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, kPollSeconds)));
  }
}

int OpenCommand::run(const Options& options) {
  int port = ApplicationPorts::kDefaultBlockPagePort;
  {
    QuietLog quiet;
    Zelto controller(Env::clock());
    if (controller.prefs() == nullptr) {
      std::fprintf(stderr, "%s", quiet.lines().c_str());
      return CommandOutcome::kRefused;
    }
    port = ApplicationPorts::blockPage(controller.prefs()).number;
  }
  FileSystem& fs = Env::fileSystem();
  Result<std::string> folder = PageTokens::runtimeFolder(Directories(fs), fs);
  if (!folder.ok())
    return fail("No runtime folder for the page's token: " + folder.status().message());
  PageTokens tokens(fs, Env::clock(), *folder);
  Result<std::string> token = tokens.mint();
  if (!token.ok()) return fail("Can't make a token for the page: " + token.status().message());

  if (!pageAnswers(port, 0.5)) {
    const std::string application = path::appendingComponent(
        path::deletingLastComponent(BundleInfo::currentExecutablePath()), "Zelto");
    ProcessSpawner::Options detached;
    detached.newSession = true;
    detached.detach = true;
    if (auto started = ProcessSpawner::spawn({application}, detached); !started.ok()) {
      return fail("Can't start " + application + ": " + started.status().message());
    }
    if (!pageAnswers(port, kWaitSeconds)) {
      return fail("The settings page doesn't answer at http://localhost:" + std::to_string(port) +
                  "/ (is another program holding the port? see the application's log)");
    }
  }
  const std::string url = "http://localhost:" + std::to_string(port) + "/session?token=" + *token;
  if (options.printUrl) {
    std::printf("%s\n", url.c_str());
    return CommandOutcome::kDone;
  }
  if (Status opened = openInBrowser(url); !opened.ok()) {
    std::printf("%s\n", url.c_str());
    return fail("Can't open the browser: " + opened.message() + "; open the address above");
  }
  return CommandOutcome::kDone;
}

void OpenCommand::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "open",
      "Open the settings page in the browser, signed in; start the application first when it\n"
      "isn't running");
  command->add_flag("--print-url", options->printUrl,
                    "Print the page's one-time address instead of opening it");
  command->footer(
      "The address holds a token good once, within two minutes: the page trades it for a\n"
      "session cookie. The page is served at http://localhost:PORT/, PORT being the block\n"
      "page's (\"zeltoctl ports\"). When the browser can't be opened the address is printed.\n"
      "Examples: zeltoctl open; zeltoctl open --print-url");
  command->callback([&chosen, options] { chosen = [options] { return run(*options); }; });
}

}  // namespace zelto
