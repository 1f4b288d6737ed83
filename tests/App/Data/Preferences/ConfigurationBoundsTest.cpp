#include <gtest/gtest.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using json = nlohmann::json;

// Configuration files made to hurt: nested far too deep, far too large. None may end the
// process; each is refused with the line the agent logs for an unusable file.
class ConfigurationBoundsTest : public ::testing::Test {
 protected:
  ConfigurationBoundsTest() : env_(testing::builtAgentBundle()) {
    ZeltoPreferences::resetSharedInstanceForTesting();
  }
  ~ConfigurationBoundsTest() override { ZeltoPreferences::resetSharedInstanceForTesting(); }

  std::string configFile() const { return env_.home() + "/.local/share/Zelto/default.cfg"; }
  std::string writeConfig(const std::string& text) {
    return env_.temp().write(".local/share/Zelto/default.cfg", text);
  }
  Result<ZeltoPreferences> load() { return ZeltoPreferences::loadWithNamespace("default"); }
  std::string unusable() const {
    return "Unable to load configuration file at " + configFile() + ". Something bad has happened.";
  }

  testing::TestEnv env_;
};

std::string nestedArrays(size_t levels) {
  return std::string(levels, '[') + std::string(levels, ']');
}

TEST_F(ConfigurationBoundsTest, NestingDeeperThanTheBoundIsAParseErrorWhereverItStands) {
  const std::string arrays = nestedArrays(200000);
  std::string objects;
  for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
  objects += "1" + std::string(200000, '}');
  for (const std::string& text : {arrays, objects, "{\"unknownKey\": " + objects + "}",
                                  "{\"profiles\": [{\"blockedApplications\": " + arrays + "}]}",
                                  "{\"profiles\": [{\"schedules\": [" + objects + "]}]}"}) {
    writeConfig(text);
    EXPECT_EQ(load().status().message(), "Error while unserializing file at " + configFile() +
                                             ": nesting deeper than 512 levels");
  }
  // As deep as allowed (the top object, the profiles, a profile, then 509 arrays), a value
  // is kept, saved and read back.
  writeConfig("{\"profiles\": [{\"blockedApplications\": " + nestedArrays(509) + "}]}");
  auto loaded = load();
  ASSERT_TRUE(loaded.ok()) << loaded.status().message();
  ASSERT_TRUE(loaded->save().ok());
  auto reloaded = load();
  ASSERT_TRUE(reloaded.ok()) << reloaded.status().message();
  EXPECT_EQ(reloaded->profiles.at(0).blockedApplications, json::parse(nestedArrays(509)));
}

TEST_F(ConfigurationBoundsTest, AFileLargerThanTheBoundIsNotRead) {
  // Sparse: 100 GiB claimed, nothing stored.
  ASSERT_EQ(::truncate(writeConfig("").c_str(), 100LL << 30), 0);
  EXPECT_EQ(load().status().message(), unusable());
  writeConfig(std::string(50'000'000, '\0'));
  EXPECT_EQ(load().status().message(), unusable());
}

// Reads that throw, as running out of memory would make them.
class ThrowingFileSystem final : public FileSystem {
 public:
  using S = std::string;
  Result<FileStatus> inspect(const S& p) const override { return real_.inspect(p); }
  Result<S> readFile(const S&, uint64_t) const override { throw std::bad_alloc(); }
  Result<S> readStart(const S&, size_t) const override { throw std::bad_alloc(); }
  Status writeFileAtomically(const S& p, const S& c, uint32_t m) override {
    return real_.writeFileAtomically(p, c, m);
  }
  Status createDirectories(const S& p) override { return real_.createDirectories(p); }
  Status appendToFile(const S& p, const S& t) override { return real_.appendToFile(p, t); }
  Status removeFile(const S& p) override { return real_.removeFile(p); }
  Status renameFile(const S& a, const S& b) override { return real_.renameFile(a, b); }
  Result<std::vector<S>> listDirectory(const S& p) const override { return real_.listDirectory(p); }

 private:
  LocalFileSystem real_;
};

TEST_F(ConfigurationBoundsTest, NoExceptionEscapesALoad) {
  writeConfig("{}");
  ThrowingFileSystem throwing;
  Env::ScopedOverride override(Env::Services{.fileSystem = &throwing});
  EXPECT_EQ(load().status().message(), unusable());
}

}  // namespace
}  // namespace zelto
