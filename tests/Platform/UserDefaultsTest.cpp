#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/FileSystem.h"
#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/FaultyFileSystem.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using json = nlohmann::json;

class UserDefaultsTest : public ::testing::Test {
 protected:
  std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults defaults{"app", store};
};

TEST_F(UserDefaultsTest, SearchesTheOwnDomainThenSuitesInTheOrderAdded) {
  ASSERT_TRUE(store->save("app", {{"shared", "app"}}).ok());
  ASSERT_TRUE(store->save("one", {{"shared", "one"}, {"pair", "one"}, {"number", 5}}).ok());
  ASSERT_TRUE(store->save("two", {{"pair", "two"}, {"last", "two"}}).ok());
  defaults.addSuiteNamed("one");
  defaults.addSuiteNamed("two");
  defaults.addSuiteNamed("one");  // already there: the order stays
  EXPECT_EQ(defaults.stringForKey("shared"), "app");
  EXPECT_EQ(defaults.stringForKey("pair"), "one");
  EXPECT_EQ(defaults.stringForKey("last"), "two");
  EXPECT_EQ(defaults.stringForKey("number"), std::nullopt);
  EXPECT_EQ(defaults.objectForKey("number"), json(5));
  defaults.removeObjectForKey("shared");  // uncovers the first suite's value
  EXPECT_EQ(defaults.stringForKey("shared"), "one");
}

TEST_F(UserDefaultsTest, ChangesStayPendingUntilSynchronizeAndSurviveAFailedStore) {
  ASSERT_TRUE(store->save("app", {{"old", 1}, {"kept", 2}}).ok());
  testing::LogCapture capture;
  defaults.setObject("new", "added");
  defaults.removeObjectForKey("old");
  defaults.setObject(nullptr, "kept");                   // null removes too
  defaults.setObject(3, "kept");                         // and the last change wins
  defaults.setObject(json::parse("[1, null]"), "list");  // refused: a property list has no null
  EXPECT_EQ(defaults.objectForKey("added"), json("new"));
  EXPECT_EQ(defaults.objectForKey("old"), std::nullopt);
  EXPECT_EQ(defaults.objectForKey("list"), std::nullopt);
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Not storing setting list: its value can't be kept in a property list"));
  EXPECT_EQ(store->load("app"), (json{{"old", 1}, {"kept", 2}}));

  store->setFailSaves(true);
  EXPECT_FALSE(defaults.synchronize().ok());
  EXPECT_EQ(defaults.objectForKey("added"), json("new"));
  store->setFailSaves(false);
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(store->load("app"), (json{{"added", "new"}, {"kept", 3}}));
}

TEST_F(UserDefaultsTest, SynchronizeKeepsWhatAnotherWriterStoredMeanwhile) {
  UserDefaults theirs("app", store);
  defaults.setObject("mine", "a");
  defaults.setObject("mine", "both");
  theirs.setObject("theirs", "b");
  theirs.setObject("theirs", "both");
  ASSERT_TRUE(theirs.synchronize().ok());
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(store->load("app"), (json{{"a", "mine"}, {"b", "theirs"}, {"both", "mine"}}));
  EXPECT_EQ(theirs.stringForKey("a"), "mine");
}

TEST_F(UserDefaultsTest, ClockDomainAnswersTheLocalesFormatUnlessOneIsStored) {
  EXPECT_EQ(UserDefaults::localeClockFormat("en_US"), "h:mm a");
  EXPECT_EQ(UserDefaults::localeClockFormat("de_DE"), "H:mm");
  const std::string clock = "com.apple.menuextra.clock";
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", UserDefaults::localeClockFormat()}}));
  ASSERT_TRUE(store->save(clock, {{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}}).ok());
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}}));
  EXPECT_EQ(defaults.persistentDomainForName("unknown"), json::object());
}

class PlistUserDefaultsTest : public ::testing::Test {
 protected:
  // A store as another process would have it: its own object over the same directory.
  std::shared_ptr<PlistDefaultsStore> store(FileSystem& fileSystem) {
    return std::make_shared<PlistDefaultsStore>(
        fileSystem, [this]() -> std::optional<std::string> { return dir / "Preferences"; });
  }

  testing::TempDir dir;
  testing::FaultyFileSystem fs;
};

TEST_F(PlistUserDefaultsTest, AnotherProcesssChangeIsSeenAtTheNextRead) {
  fs.coarseTimes = true;  // every write below falls within one tick
  UserDefaults reader("app", store(fs)), writer("app", store(fs));
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
  for (const char* value : {"v1", "v2", "v3"}) {  // the same size every time
    writer.setObject(value, "mode");
    writer.setObject(-3, "offset");
    ASSERT_TRUE(writer.synchronize().ok());
    EXPECT_EQ(reader.stringForKey("mode"), value);
  }
  EXPECT_EQ(
      PropertyList::parse(
          fs.readFile(dir / "Preferences/app.plist", FileSystem::kMaxResourceBytes).valueOr("")),
      (json{{"mode", "v3"}, {"offset", -3}}));
  writer.removeObjectForKey("mode");
  ASSERT_TRUE(writer.synchronize().ok());
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
}

TEST_F(PlistUserDefaultsTest, AChangeStoredRightAfterOurSynchronizeIsSeen) {
  LocalFileSystem local;
  UserDefaults mine("app", store(fs)), theirs("app", store(local));
  fs.afterNextWrite = [&] {
    theirs.setObject("theirs", "b");
    EXPECT_TRUE(theirs.synchronize().ok());
  };
  mine.setObject("mine", "a");
  ASSERT_TRUE(mine.synchronize().ok());
  EXPECT_EQ(mine.stringForKey("a"), "mine");
  EXPECT_EQ(mine.stringForKey("b"), "theirs");
}

TEST_F(PlistUserDefaultsTest, AStoreThatCantSaveSaysWhyAndKeepsTheChangesPending) {
  dir.write("Preferences", "a file where the folder should be");
  UserDefaults defaults("app", store(fs));
  defaults.setObject("x", "k");
  EXPECT_EQ(store(fs)->save("app", {{"k", "x"}}).message(),
            "Can't create directory " + (dir / "Preferences") + ": a file stands in the way");
  EXPECT_FALSE(defaults.synchronize().ok());
  std::filesystem::remove(dir / "Preferences");
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(UserDefaults("app", store(fs)).stringForKey("k"), "x");
}

TEST_F(PlistUserDefaultsTest, AnUnreadableFileIsKeptAsideNotReplaced) {
  const std::string broken = "<?xml version=\"1.0\"?><plist><dict><key>ProxyPort</key>";
  dir.write("Preferences/app.plist", broken);
  UserDefaults defaults("app", store(fs));
  EXPECT_EQ(defaults.stringForKey("logLevel"), std::nullopt);
  defaults.setObject("debug", "logLevel");
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(fs.readFile(dir / "Preferences/app.plist.unreadable", 4096).valueOr(""), broken);
  EXPECT_EQ(UserDefaults("app", store(fs)).stringForKey("logLevel"), "debug");
  // A readable file is merged into, not moved.
  defaults.setObject("info", "logLevel");
  ASSERT_TRUE(defaults.synchronize().ok());
  EXPECT_EQ(fs.readFile(dir / "Preferences/app.plist.unreadable", 4096).valueOr(""), broken);
}

TEST_F(PlistUserDefaultsTest, InvalidDomainNamesNeverReachTheDisk) {
  dir.write("secret.plist", *PropertyList::toXML({{"k", 1}}));
  for (const std::string& name : {std::string(""), std::string(".."), std::string("a/b"),
                                  std::string("../secret"), std::string("nul\0x", 5)}) {
    UserDefaults defaults(name, store(fs));
    defaults.setObject("x", "k");
    EXPECT_FALSE(defaults.synchronize().ok()) << name;
  }
  EXPECT_EQ(UserDefaults("app", store(fs)).persistentDomainForName("../secret"), json::object());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().string(), dir / "secret.plist");
  }
}

}  // namespace
}  // namespace zelto
