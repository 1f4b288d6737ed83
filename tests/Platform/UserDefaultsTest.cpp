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

using json = nlohmann::json;

class UserDefaultsTest : public ::testing::Test {
 protected:
  std::shared_ptr<InMemoryDefaultsStore> store = std::make_shared<InMemoryDefaultsStore>();
  UserDefaults defaults{"app", store};
};

TEST_F(UserDefaultsTest, SearchesTheOwnDomainThenSuitesInTheOrderAdded) {
  store->save("app", {{"shared", "app"}});
  store->save("one", {{"shared", "one"}, {"pair", "one"}, {"number", 5}});
  store->save("two", {{"pair", "two"}, {"last", "two"}});
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
  store->save("app", {{"old", 1}, {"kept", 2}});
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
  EXPECT_FALSE(defaults.synchronize());
  EXPECT_EQ(defaults.objectForKey("added"), json("new"));
  store->setFailSaves(false);
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"added", "new"}, {"kept", 3}}));
}

TEST_F(UserDefaultsTest, SynchronizeKeepsWhatAnotherWriterStoredMeanwhile) {
  UserDefaults theirs("app", store);
  defaults.setObject("mine", "a");
  defaults.setObject("mine", "both");
  theirs.setObject("theirs", "b");
  theirs.setObject("theirs", "both");
  ASSERT_TRUE(theirs.synchronize());
  ASSERT_TRUE(defaults.synchronize());
  EXPECT_EQ(store->load("app"), (json{{"a", "mine"}, {"b", "theirs"}, {"both", "mine"}}));
  EXPECT_EQ(theirs.stringForKey("a"), "mine");
}

TEST_F(UserDefaultsTest, ClockDomainAnswersTheLocalesFormatUnlessOneIsStored) {
  EXPECT_EQ(UserDefaults::localeClockFormat("en_US"), "h:mm a");
  EXPECT_EQ(UserDefaults::localeClockFormat("de_DE"), "H:mm");
  const std::string clock = "com.apple.menuextra.clock";
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", UserDefaults::localeClockFormat()}}));
  store->save(clock, {{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}});
  EXPECT_EQ(defaults.persistentDomainForName(clock),
            (json{{"DateFormat", "EEE HH:mm:ss"}, {"Show", true}}));
  EXPECT_EQ(defaults.persistentDomainForName("unknown"), json::object());
}

// The local file system with two faults to order: modification times kept to the second (many
// file systems keep them no finer than the kernel's tick), and another process that stores the
// domain right after one of our writes.
class TestFileSystem final : public FileSystem {
  using S = std::string;

 public:
  bool coarseTimes = false;
  std::function<void()> afterNextWrite;

  std::optional<FileStatus> status(const S& path) const override {
    auto st = real_.status(path);
    if (st && coarseTimes) st->modifiedNanoseconds -= st->modifiedNanoseconds % 1'000'000'000;
    return st;
  }
  bool writeFileAtomically(const S& path, const S& contents, S* error, uint32_t mode) override {
    bool written = real_.writeFileAtomically(path, contents, error, mode);
    if (auto hook = std::exchange(afterNextWrite, nullptr)) hook();
    return written;
  }
  std::optional<S> readFile(const S& p, S* e) const override { return real_.readFile(p, e); }
  bool createDirectories(const S& p, S* e) override { return real_.createDirectories(p, e); }
  bool appendToFile(const S& p, const S& t, S* e) override { return real_.appendToFile(p, t, e); }
  bool removeFile(const S& p, S* e) override { return real_.removeFile(p, e); }
  bool renameFile(const S& a, const S& b, S* e) override { return real_.renameFile(a, b, e); }
  std::optional<std::vector<S>> listDirectory(const S& p, S* e) const override {
    return real_.listDirectory(p, e);
  }

 private:
  LocalFileSystem real_;
};

class PlistUserDefaultsTest : public ::testing::Test {
 protected:
  // A store as another process would have it: its own object over the same directory.
  std::shared_ptr<PlistDefaultsStore> store(FileSystem& fileSystem) {
    return std::make_shared<PlistDefaultsStore>(
        fileSystem, [this]() -> std::optional<std::string> { return dir / "Preferences"; });
  }

  testing::TempDir dir;
  TestFileSystem fs;
};

TEST_F(PlistUserDefaultsTest, AnotherProcesssChangeIsSeenAtTheNextRead) {
  fs.coarseTimes = true;  // every write below falls within one tick
  UserDefaults reader("app", store(fs)), writer("app", store(fs));
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
  for (const char* value : {"v1", "v2", "v3"}) {  // the same size every time
    writer.setObject(value, "mode");
    writer.setObject(-3, "offset");
    ASSERT_TRUE(writer.synchronize());
    EXPECT_EQ(reader.stringForKey("mode"), value);
  }
  EXPECT_EQ(PropertyList::parse(fs.readFile(dir / "Preferences/app.plist", nullptr).value_or("")),
            (json{{"mode", "v3"}, {"offset", -3}}));
  writer.removeObjectForKey("mode");
  ASSERT_TRUE(writer.synchronize());
  EXPECT_EQ(reader.stringForKey("mode"), std::nullopt);
}

TEST_F(PlistUserDefaultsTest, AChangeStoredRightAfterOurSynchronizeIsSeen) {
  LocalFileSystem local;
  UserDefaults mine("app", store(fs)), theirs("app", store(local));
  fs.afterNextWrite = [&] {
    theirs.setObject("theirs", "b");
    EXPECT_TRUE(theirs.synchronize());
  };
  mine.setObject("mine", "a");
  ASSERT_TRUE(mine.synchronize());
  EXPECT_EQ(mine.stringForKey("a"), "mine");
  EXPECT_EQ(mine.stringForKey("b"), "theirs");
}

TEST_F(PlistUserDefaultsTest, InvalidDomainNamesNeverReachTheDisk) {
  dir.write("secret.plist", *PropertyList::toXML({{"k", 1}}));
  for (const std::string& name : {std::string(""), std::string(".."), std::string("a/b"),
                                  std::string("../secret"), std::string("nul\0x", 5)}) {
    UserDefaults defaults(name, store(fs));
    defaults.setObject("x", "k");
    EXPECT_FALSE(defaults.synchronize()) << name;
  }
  EXPECT_EQ(UserDefaults("app", store(fs)).persistentDomainForName("../secret"), json::object());
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().string(), dir / "secret.plist");
  }
}

}  // namespace
}  // namespace zelto
