// End-to-end: the agent against configuration files made to break it. Each time, with a timer
// running before the damage, the agent stays up within bounded memory, keeps the block (a
// killed application comes back, also after a restart of the agent), logs why it can't use the
// file, and follows a good file written afterwards at once, through its file watch.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "Support/AgentUnderTest.h"
#include "Support/NestedText.h"

namespace zelto {
namespace {

using testing::AgentUnderTest;
using testing::eventually;
using testing::nested;

// Far above what the agent needs; a file read whole without bound, or parsed into a tree
// without limit, goes past it.
constexpr long kMemoryBoundKilobytes = 256 * 1024;

class HostileConfigurationTest : public ::testing::Test {
 protected:
  struct Damage {
    std::string what;
    std::function<void(AgentUnderTest&)> apply;
    std::vector<std::string> messages;  // one of them must be logged
    // Whether to restart the agent with the damage in place (not when the damage is to its own
    // settings, from which a restarted agent would take no log level for the later steps).
    bool restart = true;
  };

  // A timer running, the damage, then a good file: the whole story for each damage, each with
  // an agent of its own.
  void survive(const Damage& damage, bool unprivileged = false) {
    SCOPED_TRACE(damage.what);
    AgentUnderTest agent;
    if (unprivileged) {
      if (std::string why = agent.dropPrivileges(); !why.empty()) GTEST_SKIP() << why;
    }
    agent.writeConfig(AgentUnderTest::timerRunning());
    agent.start();
    ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();

    damage.apply(agent);
    // The agent reads the file when the application is found stopped.
    ASSERT_TRUE(agent.killStandInAndAwaitRelaunch()) << agent.log();
    EXPECT_TRUE(agent.process().running());
    EXPECT_TRUE(std::any_of(damage.messages.begin(), damage.messages.end(),
                            [&](const std::string& m) { return agent.count(m) > 0; }))
        << agent.log();
    EXPECT_EQ(agent.count("does not exist"), damage.what == "deleted" ? agent.count("Keeping") : 0u)
        << agent.log();
    EXPECT_LT(agent.memoryKilobytes("VmHWM:"), kMemoryBoundKilobytes);

    // Nor does a restart of the agent with the damage in place (systemd restarting it, a new
    // login) with the application gone: it starts from the last good configuration.
    if (damage.restart) {
      agent.process().signal(SIGTERM);
      ASSERT_TRUE(agent.process().waitForExit());
      ::kill(agent.launchedPids().back(), SIGKILL);
      const size_t beforeRestart = agent.launchedPids().size();
      agent.start();
      ASSERT_TRUE(eventually([&] { return agent.launchedPids().size() > beforeRestart; }))
          << agent.log();
    }

    // Good files, in a folder the agent may read again, are followed: blocking off, then on.
    std::error_code ignored;
    std::filesystem::permissions(agent.configDir(), std::filesystem::perms(0755), ignored);
    std::filesystem::remove_all(agent.configFile(), ignored);
    EXPECT_TRUE(agent.turnBlockingOffAndOnAgain());
    EXPECT_TRUE(agent.process().running());
  }
};

TEST_F(HostileConfigurationTest, SomethingOtherThanAFileAtThePath) {
  // Each replaces the file whole; what the agent must say is computed once it exists.
  const std::vector<std::pair<std::string, std::function<void(AgentUnderTest&)>>> kinds{
      {"a FIFO", [](AgentUnderTest& a) { ::mkfifo(a.configFile().c_str(), 0600); }},
      {"a directory", [](AgentUnderTest& a) { std::filesystem::create_directory(a.configFile()); }},
      {"a loop of links",
       [](AgentUnderTest& a) { std::filesystem::create_symlink("default.cfg", a.configFile()); }},
  };
  for (const auto& [what, make] : kinds) {
    survive({what,
             [make = make](AgentUnderTest& a) {
               std::filesystem::remove(a.configFile());
               make(a);
             },
             {"Unable to load configuration file at", "Something bad has happened."}});
  }
}

TEST_F(HostileConfigurationTest, ContentThatIsNoConfiguration) {
  struct Text {
    std::string what, text, message;
  };
  const std::vector<Text> texts{
      {"garbage", std::string("\x7f\x45\x4c\x46{{{", 7), "Error while unserializing file at"},
      {"invalid UTF-8", "{\"zeltoType\": 1, \"password\": \"\xc3\x28\"}",
       "Error while unserializing file at"},
      {"wrong value types", R"({"zeltoType": "timer", "profiles": {"name": 5}})",
       "Error while discarding unsaved changes: "},
      {"an unparsable date", R"({"zeltoType": 1, "zeltoUnblockDate": "tomorrow at noon"})",
       "Error while discarding unsaved changes: zeltoUnblockDate"},
  };
  for (const auto& t : texts) {
    survive({t.what, [text = t.text](AgentUnderTest& a) { a.writeConfig(text); }, {t.message}});
  }
  survive({"deleted",
           [](AgentUnderTest& a) { std::filesystem::remove(a.configFile()); },
           {"Keeping the last loaded configuration"}});
}

// Depends on a bound on nesting in the parsers.
TEST_F(HostileConfigurationTest, NestingTwoHundredThousandDeep) {
  constexpr size_t kDepth = 200'000;
  const std::vector<std::pair<std::string, std::string>> texts{
      {"objects", nested("{\"a\":", "}", kDepth)},
      {"arrays", nested("[", "]", kDepth)},
      {"inside a known key", "{\"profiles\": " + nested("[", "]", kDepth) + "}"},
      {"inside a profile",
       "{\"profiles\": [{\"blockedWebsites\": " + nested("[", "]", kDepth) + "}]}"},
  };
  for (const auto& [what, text] : texts) {
    survive({what,
             [text = text](AgentUnderTest& a) { a.writeConfig(text); },
             {"Error while unserializing file at", "Unable to load configuration file at",
              "Error while discarding unsaved changes: "}});
  }
  survive({"a settings property list",
           [](AgentUnderTest& a) {
             a.dir().write(
                 "home/.config/Zelto/Preferences/Quarnix.zelto.agent.plist",
                 testing::plistDocument("<dict><key>k</key>" +
                                        nested("<array>", "</array>", kDepth) + "</dict>"));
             // The agent's own settings are read whenever the configuration's place is looked
             // up.
             a.writeConfig(AgentUnderTest::timerRunning());
           },
           {"Ignoring unreadable settings file"},
           /*restart=*/false});
}

// Depends on a bound on the size of a file read whole.
TEST_F(HostileConfigurationTest, HugeFiles) {
  survive({"a sparse 100 GB file",
           [](AgentUnderTest& a) {
             std::string temp = a.dir() / "sparse";
             std::ofstream(temp).close();
             std::filesystem::resize_file(temp, 100ull << 30);
             std::filesystem::rename(temp, a.configFile());
           },
           {"Unable to load configuration file at", "Error while unserializing file at"}});
  survive({"50 MB of NUL bytes",
           [](AgentUnderTest& a) { a.writeConfig(std::string(50 << 20, '\0')); },
           {"Unable to load configuration file at", "Error while unserializing file at"}});
  survive({"40 MB of valid JSON",
           [](AgentUnderTest& a) {
             std::string text = AgentUnderTest::timerRunning();
             text.back() = ',';  // the timer still runs in it
             text += R"("padding": [)";
             while (text.size() < (40u << 20)) text += "\"abcdefghijklmnopqrstuvwxyz\",";
             text += "0]}";
             a.writeConfig(text);
           },
           // Read or refused: either way the block holds.
           {"Looking up configuration file at"}});
}

TEST_F(HostileConfigurationTest, UnreadableFileOrFolder) {
  for (const auto& [what, target] : std::vector<std::pair<std::string, std::string>>{
           {"an unreadable file", "default.cfg"}, {"an unreadable folder", ""}}) {
    survive({what,
             [target = target](AgentUnderTest& a) {
               ::chmod((a.configDir() + "/" + target).c_str(), 0);
             },
             {"Unable to load configuration file at"}},
            /*unprivileged=*/true);
  }
}

// A permission mended is noticed at once: with the application stopped, a timer set in a file
// the agent can't read starts blocking as soon as the file (or its folder) is readable again.
TEST_F(HostileConfigurationTest, AMendedPermissionIsFollowedAtOnce) {
  for (const std::string target : {"default.cfg", ""}) {
    SCOPED_TRACE(target.empty() ? "folder" : "file");
    AgentUnderTest agent;
    if (std::string why = agent.dropPrivileges(); !why.empty()) GTEST_SKIP() << why;
    agent.writeConfig("{}");
    agent.start();
    ASSERT_TRUE(eventually([&] { return agent.count("Zelto doesn't need launching") > 0; }))
        << agent.log();
    const std::string path = agent.configDir() + "/" + target;
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    // Counted before the damage: the agent may already fail on the change of mode itself.
    const size_t failed = agent.count("Unable to load configuration file at");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    {
      // Rewritten in place by someone the permissions don't stop.
      std::ofstream(agent.configFile(), std::ios::trunc) << AgentUnderTest::timerRunning();
    }
    ASSERT_TRUE(eventually([&] {
      return agent.count("Unable to load configuration file at") > failed;
    })) << agent.log();
    EXPECT_TRUE(agent.launchedPids().empty());
    ASSERT_EQ(::chmod(path.c_str(), before.st_mode & 07777), 0);
    EXPECT_TRUE(eventually([&] { return agent.launchedPids().size() == 1; })) << agent.log();
  }
}

}  // namespace
}  // namespace zelto
