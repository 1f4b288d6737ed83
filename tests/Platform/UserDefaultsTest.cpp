#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "Platform/FileSystem.h"
#include "Platform/PropertyList.h"
#include "Platform/UserDefaults.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using json = nlohmann::json;
using testing::TempDir;

TEST(UserDefaultsTest, SearchesTheOwnDomainThenSuitesInTheOrderAdded) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  store->save("app", {{"shared", "app"}});
  store->save("one", {{"shared", "one"}, {"pair", "one"}, {"text", 5}});
  store->save("two", {{"pair", "two"}, {"last", "two"}});
  UserDefaults defaults("app", store);
  defaults.addSuiteNamed("one");
  defaults.addSuiteNamed("two");
  defaults.addSuiteNamed("one");  // already there: the order stays
  defaults.addSuiteNamed("app");  // the own domain is never a suite

  EXPECT_EQ(defaults.stringForKey("shared"), "app");
  EXPECT_EQ(defaults.stringForKey("pair"), "one");
  EXPECT_EQ(defaults.stringForKey("last"), "two");
  EXPECT_EQ(defaults.objectForKey("text"), json(5));
  EXPECT_EQ(defaults.stringForKey("text"), std::nullopt);
  EXPECT_EQ(defaults.objectForKey("missing"), std::nullopt);

  // Removing the own value uncovers the first suite's.
  defaults.removeObjectForKey("shared");
  EXPECT_EQ(defaults.stringForKey("shared"), "one");
}

TEST(UserDefaultsTest, ChangesStayPendingUntilSynchronize) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  store->save("app", {{"old", 1}, {"kept", 2}});
  UserDefaults defaults("app", store);
  defaults.setObject("new", "added");
  defaults.removeObjectForKey("old");
  defaults.setObject(nullptr, "kept");  // null removes too
  defaults.setObject(3, "kept");        // and the last change wins
  EXPECT_EQ(defaults.objectForKey("added"), json("new"));
  EXPECT_EQ(defaults.objectForKey("old"), std::nullopt);
  EXPECT_EQ(store->load("app"), (json{{"old", 1}, {"kept", 2}}));

  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"added", "new"}, {"kept", 3}}));
  EXPECT_TRUE(defaults.synchronize());  // nothing pending
}

TEST(UserDefaultsTest, AFailedStoreKeepsTheChangeForTheNextSynchronize) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults defaults("app", store);
  store->setFailSaves(true);
  defaults.setObject(true, "flag");
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(defaults.objectForKey("flag"), json(true));
  EXPECT_EQ(store->load("app"), json::object());

  store->setFailSaves(false);
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"flag", true}}));
}

TEST(UserDefaultsTest, AValueThatCantBeStoredIsRefusedAndHoldsNothingElseBack) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults defaults("app", store);
  testing::LogCapture capture;
  defaults.setObject(json::parse("[1, null]"), "list");
  defaults.setObject("kept", "other");
  EXPECT_EQ(defaults.objectForKey("list"), std::nullopt);
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"other", "kept"}}));
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Not storing setting list: its value can't be kept in a property list"));
}

TEST(UserDefaultsTest, SynchronizeKeepsWhatAnotherWriterStoredMeanwhile) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults mine("app", store), theirs("app", store);
  mine.setObject("mine", "a");
  mine.setObject("mine", "both");
  theirs.setObject("theirs", "b");
  theirs.setObject("theirs", "both");
  ASSERT_TRUE(theirs.synchronize());
  ASSERT_TRUE(mine.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"a", "mine"}, {"b", "theirs"}, {"both", "mine"}}));
  EXPECT_EQ(theirs.stringForKey("a"), "mine");
}

TEST(UserDefaultsTest, PersistentDomainForName) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  store->save("other", {{"x", 1}});
  UserDefaults defaults("app", store);
  EXPECT_EQ(defaults.persistentDomainForName("other"), (json{{"x", 1}}));
  EXPECT_EQ(defaults.persistentDomainForName("unknown"), json::object());
  defaults.setObject(2, "y");
  EXPECT_EQ(defaults.persistentDomainForName("app"), (json{{"y", 2}}));
}

TEST(UserDefaultsTest, ClockDomainAnswersTheLocalesFormatUnlessOneIsStored) {
  auto store = std::make_shared<InMemoryDefaultsStore>();
  const std::string clock = "com.apple.menuextra.clock";
  UserDefaults defaults("app", store);
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", UserDefaults::localeClockFormat()}}));
  store->save(clock, {{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}});
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}}));
}

TEST(UserDefaultsTest, LocaleClockFormatFollowsTheLocalesHourCycle) {
  EXPECT_EQ(UserDefaults::localeClockFormat("en_US"), "h:mm a");
  EXPECT_EQ(UserDefaults::localeClockFormat("de_DE"), "H:mm");
  EXPECT_EQ(UserDefaults::localeClockFormat("en_GB"), "H:mm");
  EXPECT_EQ(UserDefaults::localeClockFormat("ja_JP"), "H:mm");
  std::string any = UserDefaults::localeClockFormat("");
  EXPECT_TRUE(any == "H:mm" || any == "h:mm a") << any;
}

class PlistUserDefaultsTest : public ::testing::Test {
 protected:
  // A store as another process would have it: its own object over the same directory.
  std::shared_ptr<PlistDefaultsStore> makeStore(FileSystem& fileSystem) {
    return std::make_shared<PlistDefaultsStore>(
        fileSystem, [this]() -> std::optional<std::string> { return dir / "Preferences"; });
  }

  TempDir dir;
  LocalFileSystem fs;
};

TEST_F(PlistUserDefaultsTest, StoresAnXMLPropertyListPerDomain) {
  UserDefaults writer("org.example.app", makeStore(fs));
  writer.setObject(json::array({"a.example", "b.example"}), "hosts");
  writer.setObject(-3, "offset");
  ASSERT_TRUE(writer.synchronize());

  auto bytes = fs.readFile(dir / "Preferences/org.example.app.plist");
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(PropertyList::parse(*bytes),
            (json{{"hosts", {"a.example", "b.example"}}, {"offset", -3}}));
  UserDefaults reader("org.example.app", makeStore(fs));
  EXPECT_EQ(reader.objectForKey("offset"), json(-3));
}

TEST_F(PlistUserDefaultsTest, AnotherProcesssChangeIsSeenAtTheNextRead) {
  UserDefaults reader("app", makeStore(fs)), writer("app", makeStore(fs));
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
  for (const char* value : {"v1", "v2", "v3"}) {  // same size every time
    writer.setObject(value, "mode");
    ASSERT_TRUE(writer.synchronize());
    EXPECT_EQ(reader.stringForKey("mode"), value);
  }
  writer.removeObjectForKey("mode");
  ASSERT_TRUE(writer.synchronize());
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
}

// The local file system with two faults to order: modification times kept to the second (many
// file systems keep them no finer than the kernel's tick), and another process that stores the
// domain right after one of our writes.
class TestFileSystem final : public FileSystem {
 public:
  bool coarseTimes = false;
  std::function<void()> afterNextWrite;

  std::optional<FileStatus> status(const std::string& path) const override {
    auto st = real_.status(path);
    if (st && coarseTimes) st->modifiedNanoseconds -= st->modifiedNanoseconds % 1'000'000'000;
    return st;
  }
  bool writeFileAtomically(const std::string& path, const std::string& contents, std::string* error,
                           uint32_t mode) override {
    bool written = real_.writeFileAtomically(path, contents, error, mode);
    if (auto hook = std::exchange(afterNextWrite, nullptr)) hook();
    return written;
  }
  std::optional<std::string> readFile(const std::string& path, std::string* error) const override {
    return real_.readFile(path, error);
  }
  bool createDirectories(const std::string& path, std::string* error) override {
    return real_.createDirectories(path, error);
  }
  bool appendToFile(const std::string& path, const std::string& text, std::string* error) override {
    return real_.appendToFile(path, text, error);
  }
  bool removeFile(const std::string& path, std::string* error) override {
    return real_.removeFile(path, error);
  }
  bool renameFile(const std::string& from, const std::string& to, std::string* error) override {
    return real_.renameFile(from, to, error);
  }
  std::optional<std::vector<std::string>> listDirectory(const std::string& path,
                                                        std::string* error) const override {
    return real_.listDirectory(path, error);
  }

 private:
  LocalFileSystem real_;
};

TEST_F(PlistUserDefaultsTest, ASameSizeChangeWithinOneClockTickIsSeen) {
  TestFileSystem coarse;
  coarse.coarseTimes = true;
  UserDefaults reader("app", makeStore(coarse)), writer("app", makeStore(coarse));
  writer.setObject("v1", "mode");
  ASSERT_TRUE(writer.synchronize());
  EXPECT_EQ(reader.stringForKey("mode"), "v1");
  writer.setObject("v2", "mode");
  ASSERT_TRUE(writer.synchronize());
  EXPECT_EQ(reader.stringForKey("mode"), "v2");
}

TEST_F(PlistUserDefaultsTest, AChangeStoredRightAfterOurSynchronizeIsSeen) {
  TestFileSystem racing;
  UserDefaults mine("app", makeStore(racing)), theirs("app", makeStore(fs));
  racing.afterNextWrite = [&] {
    theirs.setObject("theirs", "b");
    EXPECT_TRUE(theirs.synchronize());
  };
  mine.setObject("mine", "a");
  ASSERT_TRUE(mine.synchronize());
  EXPECT_EQ(mine.stringForKey("a"), "mine");
  EXPECT_EQ(mine.stringForKey("b"), "theirs");
}

TEST_F(PlistUserDefaultsTest, AnUnreadableFileIsIgnoredAndThenReplaced) {
  ASSERT_TRUE(fs.createDirectories(dir / "Preferences"));
  ASSERT_TRUE(fs.writeFileAtomically(dir / "Preferences/app.plist", "garbage"));
  testing::LogCapture log;
  UserDefaults defaults("app", makeStore(fs));
  EXPECT_EQ(defaults.objectForKey("any"), std::nullopt);
  EXPECT_EQ(log.count("Ignoring unreadable settings file " + dir / "Preferences/app.plist"), 1u);
  defaults.setObject(1, "any");
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(UserDefaults("app", makeStore(fs)).objectForKey("any"), json(1));
}

TEST_F(PlistUserDefaultsTest, InvalidDomainNamesNeverReachTheDisk) {
  ASSERT_TRUE(fs.writeFileAtomically(dir / "secret.plist", *PropertyList::toXML({{"k", 1}})));
  for (const std::string& name :
       {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
        std::string("../secret"), std::string("nul\0x", 5)}) {
    UserDefaults defaults(name, makeStore(fs));
    defaults.setObject("x", "k");
    EXPECT_FALSE(defaults.synchronize()) << name;
  }
  EXPECT_EQ(UserDefaults("app", makeStore(fs)).persistentDomainForName("../secret"),
            json::object());
  std::vector<std::string> everything;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    everything.push_back(entry.path().string());
  }
  EXPECT_THAT(everything, ElementsAre(dir / "secret.plist"));
}

}  // namespace
}  // namespace zelto
