// MainAppUnderTest: the built main application, run from a private copy of the built bundle
// under a fresh home, with ports of its own, for end-to-end tests.
//
// The block page and the proxy listen on ports picked free for this copy, the runtime folder
// (the instance lock) is private and no session bus is named, so other copies of the bundle
// running on the machine (another checkout, another test run) neither collide with it nor
// count as its second instance. The program logs at the debug level to a file the test reads.
// Everything it started is stopped when the object goes. One test thread.
#pragma once

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "App/Data/Preferences/JSONValues.h"
#include "Platform/Clock.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Support/ChildProcess.h"
#include "Support/TempDir.h"

namespace zelto::testing {

class MainAppUnderTest {
 public:
  MainAppUnderTest() : blockPort_(freePort()), proxyPort_(freePort()) {
    std::filesystem::create_directories(dir_ / "home/.local/share/Zelto");
    std::filesystem::create_directories(dir_ / "home/.config/Zelto/Preferences");
    std::filesystem::create_directories(dir_ / "run");
    std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
    std::filesystem::copy(ZELTO_TEST_REAL_APP_DIR, dir_ / "Zelto.app",
                          std::filesystem::copy_options::recursive);
    dir_.write("home/.config/Zelto/Preferences/Quarnix.zelto.plist",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>ProxyPort</key><integer>" +
                   std::to_string(proxyPort_) +
                   "</integer><key>logLevel</key><string>debug</string></dict></plist>\n");
  }
  ~MainAppUnderTest() { stop(); }

  // Replaces the configuration atomically, as zeltoctl does; "httpPort" is this copy's.
  void writeConfig(nlohmann::json config) const {
    config["httpPort"] = blockPort_;
    writeConfigText(config.dump());
  }
  void writeConfigText(const std::string& text) const {
    std::string temp = dir_.write("config.tmp", text);
    std::filesystem::rename(temp, dir_ / "home/.local/share/Zelto/default.cfg");
  }

  // Starts the program and waits until both servers listen; false when they don't.
  // `prefix`: a program that runs it, and its arguments ("/usr/bin/prlimit", "--nofile=64", "--").
  bool start(const std::vector<std::string>& prefix = {}) {
    app_ = launch("zelto.err", prefix);
    return eventually([&] {
      return log().find("Filtering proxy listening on") != std::string::npos &&
             log().find("Block page served at") != std::string::npos;
    });
  }
  std::unique_ptr<ChildProcess> launch(const std::string& errName,
                                       std::vector<std::string> prefix = {}) const {
    prefix.push_back(dir_ / "Zelto.app/Contents/MacOS/Zelto");
    const std::string program = prefix.front();
    prefix.erase(prefix.begin());
    return std::make_unique<ChildProcess>(program, environment(), dir_ / errName, prefix);
  }
  // SIGTERM, then the exit status (nothing when it didn't exit).
  std::optional<int> stop() {
    if (!app_) return std::nullopt;
    app_->signal(SIGTERM);
    auto status = app_->waitForExit();
    app_.reset();
    return status;
  }
  ChildProcess& process() { return *app_; }

  std::string log() const { return readWholeFile(dir_ / "zelto.err"); }
  bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
  const TempDir& dir() const { return dir_; }
  int blockPort() const { return blockPort_; }
  int proxyPort() const { return proxyPort_; }
  std::string proxy() const { return "http://127.0.0.1:" + std::to_string(proxyPort_); }
  std::string blockBase() const { return "http://127.0.0.1:" + std::to_string(blockPort_); }

  // The date `seconds` from now, as the configuration writes dates.
  static std::string in(double seconds) {
    return JSONValues::formatDate(SystemClock().now().addingTimeInterval(seconds));
  }
  // A timer running from a minute ago for `seconds` more, with `profile` as the only profile
  // when one is given.
  static nlohmann::json timer(double seconds, nlohmann::json profile = nullptr) {
    nlohmann::json config = {{"zeltoType", 1},
                             {"lastZeltoDate", in(-60)},
                             {"zeltoUnblockDate", in(seconds)},
                             {"lastUnzeltoDate", in(seconds)}};
    if (!profile.is_null()) config["profiles"] = nlohmann::json::array({std::move(profile)});
    return config;
  }

  // A port nothing listens on now (the kernel's pick of a free one).
  static int freePort() {
    FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }

  // The first IPv4 address of an interface that is up and not loopback, if there is one.
  static std::optional<std::string> networkAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (ifaddrs* at = list; at != nullptr && !found; at = at->ifa_next) {
      if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != AF_INET) continue;
      if ((at->ifa_flags & IFF_UP) == 0 || (at->ifa_flags & IFF_LOOPBACK) != 0) continue;
      char text[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(at->ifa_addr)->sin_addr, text,
                  sizeof text);
      found = text;
    }
    ::freeifaddrs(list);
    return found;
  }

  // The environment the program runs in (and the agent, when a test starts it).
  Environment environment() const {
    return {{"HOME", dir_ / "home"},
            {"XDG_DATA_HOME", std::nullopt},
            {"XDG_STATE_HOME", std::nullopt},
            {"XDG_CONFIG_HOME", std::nullopt},
            {"XDG_CACHE_HOME", std::nullopt},
            {"XDG_RUNTIME_DIR", dir_ / "run"},
            {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
  }

 private:
  TempDir dir_;
  int blockPort_;
  int proxyPort_;
  std::unique_ptr<ChildProcess> app_;
};

}  // namespace zelto::testing
