#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Guard/BrowserPolicies.h"
#include "Guard/HostsSection.h"
#include "Guard/SystemFiles.h"
#include "Platform/Linux/InotifyFileWatcher.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/ChildProcess.h"
#include "Support/FakeClock.h"
#include "Support/LogCapture.h"
#include "Support/RunLoopUntil.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kHosts = "127.0.0.1 localhost\n::1 localhost";  // no final newline

std::optional<std::string> readText(const std::string& path) {
  return fs::exists(path) ? std::optional(testing::readWholeFile(path)) : std::nullopt;
}

uint64_t inodeOf(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class SystemFilesTest : public ::testing::Test {
 protected:
  // Folders the tests make must not be writable by others: the guard refuses those.
  SystemFilesTest() : umask_(::umask(022)) {
    dir.write("etc/hosts", kHosts);
    enforcement.hosts = {"a.test"};
    enforcement.urlBlocklist = {".a.test", ".www.a.test"};
    enforcement.proxyPort = 8118;
  }

  ~SystemFilesTest() override { ::umask(umask_); }

  std::unique_ptr<SystemFiles> makeFiles() {
    return std::make_unique<SystemFiles>(loop, watcher, clock, paths);
  }
  std::string hostsPath() const { return dir / "etc/hosts"; }
  std::string chromePath() const {
    return dir / "etc/opt/chrome/policies/managed/zelto-guard.json";
  }
  std::string firefoxPath() const { return dir / "etc/firefox/policies/policies.json"; }
  std::string wantedHosts() const { return HostsSection::withSection(kHosts, enforcement.hosts); }
  bool runUntil(const std::function<bool()>& done) {
    return testing::runLoopUntil(loop, done, 5.0);
  }
  static std::string repaired(const std::string& path) {
    return "Repaired " + path + ": it was changed while a lock runs";
  }

  mode_t umask_;
  UvRunLoop loop;
  InotifyFileWatcher watcher{loop};
  FakeClock clock;
  testing::TempDir dir;
  GuardPaths paths{dir.path()};
  Enforcement enforcement;
  std::unique_ptr<SystemFiles> files = makeFiles();
};

TEST_F(SystemFilesTest, ClearPutsBackEveryFileAsItWasEvenAfterARestart) {
  const std::optional<std::string> originals[] = {
      std::nullopt, R"({"policies": {"DisableAppUpdate": true}})", "{broken json"};
  for (const std::optional<std::string>& original : originals) {
    if (original) dir.write("etc/firefox/policies/policies.json", *original);
    ASSERT_TRUE(files->apply(enforcement).ok());
    EXPECT_EQ(readText(hostsPath()), wantedHosts());
    for (const std::string& folder : BrowserPolicies::chromiumPolicyFolders()) {
      const auto text = readText(paths.under(folder) + "/zelto-guard.json");
      ASSERT_TRUE(text) << folder;
      EXPECT_EQ(json::parse(*text)["URLBlocklist"], json(enforcement.urlBlocklist));
    }
    const json firefox = json::parse(readText(firefoxPath()).value_or("null"));
    EXPECT_EQ(firefox["policies"]["Proxy"]["HTTPProxy"], "127.0.0.1:8118");
    EXPECT_EQ(firefox["policies"].contains("DisableAppUpdate"),
              original && original->starts_with("{\"policies"));

    // A restarted guard holds the same files, and knows the original without being told.
    files = makeFiles();
    ASSERT_TRUE(files->apply(enforcement).ok());
    files = makeFiles();
    ASSERT_TRUE(files->clear().ok());
    EXPECT_EQ(readText(hostsPath()), kHosts);
    EXPECT_FALSE(fs::exists(chromePath()));
    EXPECT_EQ(readText(firefoxPath()), original);
    EXPECT_FALSE(fs::exists(dir / "etc/opt"));  // the folders the guard made, too
    EXPECT_EQ(fs::exists(dir / "etc/firefox"), original.has_value());
    EXPECT_TRUE(fs::is_empty(paths.stateDir() + "/original-files"));
  }
}

TEST_F(SystemFilesTest, WritesOnlyWhatDiffers) {
  ASSERT_TRUE(files->apply(enforcement).ok());
  const uint64_t hosts = inodeOf(hostsPath()), chrome = inodeOf(chromePath());
  ASSERT_TRUE(files->apply(enforcement).ok());
  EXPECT_EQ(inodeOf(hostsPath()), hosts);
  EXPECT_EQ(inodeOf(chromePath()), chrome);

  enforcement.hosts.push_back("b.test");
  ASSERT_TRUE(files->apply(enforcement).ok());
  EXPECT_NE(inodeOf(hostsPath()), hosts);
  EXPECT_EQ(inodeOf(chromePath()), chrome);
  EXPECT_EQ(readText(hostsPath()), wantedHosts());
}

TEST_F(SystemFilesTest, TamperingIsRepairedAndLoggedOncePerEpisode) {
  testing::LogCapture log;
  ASSERT_TRUE(files->apply(enforcement).ok());
  const std::string chrome = *readText(chromePath());

  dir.write("etc/hosts", std::string(kHosts) + "\n# mine\n");  // the section edited away
  ASSERT_TRUE(
      runUntil([&] { return readText(hostsPath()) != std::string(kHosts) + "\n# mine\n"; }));
  EXPECT_EQ(readText(hostsPath()),
            HostsSection::withSection(std::string(kHosts) + "\n# mine\n", enforcement.hosts));
  fs::remove(chromePath());
  ASSERT_TRUE(runUntil([&] { return readText(chromePath()) == chrome; }));
  fs::permissions(chromePath(), fs::perms::owner_read);
  ASSERT_TRUE(runUntil([&] {
    return (fs::status(chromePath()).permissions() & fs::perms::others_read) != fs::perms::none;
  }));

  dir.write("etc/hosts", kHosts);  // the same episode
  ASSERT_TRUE(runUntil([&] { return readText(hostsPath()) == wantedHosts(); }));
  EXPECT_EQ(log.count(repaired(hostsPath())), 1u);
  clock.advance(SystemFiles::kEpisodeSeconds);
  dir.write("etc/hosts", kHosts);
  ASSERT_TRUE(runUntil([&] { return readText(hostsPath()) == wantedHosts(); }));
  EXPECT_EQ(log.count(repaired(hostsPath())), 2u);
  EXPECT_EQ(log.count(repaired(chromePath())), 1u);

  // Cleared: nothing is held any more.
  ASSERT_TRUE(files->clear().ok());
  dir.write("etc/opt/chrome/policies/managed/zelto-guard.json", "{}");
  ASSERT_TRUE(testing::runPosted(loop));
  EXPECT_EQ(readText(chromePath()), "{}");
}

TEST_F(SystemFilesTest, NeverWritesThroughALink) {
  fs::create_directories(dir / "elsewhere");
  fs::create_directories(dir / "etc/opt");
  fs::create_directory_symlink(dir / "elsewhere", dir / "etc/opt/chrome");
  fs::create_directories(dir / "etc/firefox/policies");
  fs::create_symlink(dir / "elsewhere/ff.json", firefoxPath());
  const std::string brave = dir / "etc/brave/policies/managed/zelto-guard.json";
  fs::create_directories(dir / "etc/brave/policies/managed");
  fs::create_symlink(dir / "elsewhere/brave.json", brave);  // a name of the guard's: replaced

  const Status applied = files->apply(enforcement);
  EXPECT_FALSE(applied.ok());
  EXPECT_NE(applied.message().find(dir / "etc/opt/chrome"), std::string::npos) << applied.message();
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  EXPECT_TRUE(fs::is_symlink(firefoxPath()));
  EXPECT_EQ(readText(hostsPath()), wantedHosts());  // the rest is held all the same
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(brave)));

  fs::remove(dir / "etc/opt/chrome");  // what failed is tried again
  ASSERT_TRUE(runUntil([&] { return fs::exists(chromePath()); }));
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

}  // namespace
}  // namespace zelto
