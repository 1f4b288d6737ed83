#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"
#include "App/Data/ZeltoDefaults.h"
#include "Support/FaultyFileSystem.h"
#include "Support/LogCapture.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using ::testing::ElementsAre;
using testing::LogCapture;
using testing::TempDir;
using testing::TestEnv;

BundleInfo bundle(const std::string& path, std::optional<std::string> identifier) {
  BundleInfo info;
  info.bundlePath = path;
  info.executablePath = path + "/Contents/MacOS/Agent";
  info.bundleIdentifier = std::move(identifier);
  return info;
}

// A main application bundle at <dir>/Zelto.app with the given resource files.
std::string makeApplication(const TempDir& dir, const std::string& hosts,
                            const std::string& quotes) {
  dir.write("Zelto.app/Contents/Resources/zelto", hosts);
  dir.write("Zelto.app/Contents/Resources/quotes", quotes);
  dir.write("Zelto.app/Contents/Resources/zelto_script", "# starts\necho start\n");
  dir.write("Zelto.app/Contents/Resources/unbreak_script", "echo back\n");
  return dir / "Zelto.app";
}

TEST(ZeltoDefaultsTest, AgentInsideTheApplicationFindsItAndReadsItsResources) {
  TempDir dir;
  std::string app = makeApplication(dir, "# sites\nexample.com\n", "Be brief.|Anonymous\n");
  TestEnv env(bundle(app + "/Contents/MacOS/Agent.app", "Quarnix.zelto.agent"));

  EXPECT_EQ(ZeltoDefaults::getZeltoApplicationPath(), app);
  EXPECT_THAT(ZeltoDefaults::getDefaultHosts(), ElementsAre("example.com"));
  EXPECT_EQ(ZeltoDefaults::getDefaultQuotes().size(), 1u);  // split: QuotesSplitInto...
  EXPECT_EQ(ZeltoDefaults::getDefaultZeltoScript(), "# starts\necho start\n");
  EXPECT_EQ(ZeltoDefaults::getDefaultUnbreakScript(), "echo back\n");
  EXPECT_EQ(ZeltoDefaults::getDefaultUnzeltoScript(), "");  // missing file
}

TEST(ZeltoDefaultsTest, AgentOutsideTheApplicationLogsBothErrorsAndHasNoDefaults) {
  TestEnv env(bundle("/tmp/elsewhere/Agent.app", "Quarnix.zelto.agent"));
  LogCapture capture;

  EXPECT_EQ(ZeltoDefaults::getZeltoApplicationPath(), std::nullopt);
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Watchdog agent can't find Zelto.app in path /tmp/elsewhere/Agent.app"));
  EXPECT_TRUE(capture.has(spdlog::level::err,
                          "Error finding Zelto application path for current "
                          "identifier=Quarnix.zelto.agent"));
  EXPECT_TRUE(ZeltoDefaults::getDefaultHosts().empty());
  EXPECT_TRUE(ZeltoDefaults::getDefaultQuotes().empty());
  EXPECT_EQ(ZeltoDefaults::getDefaultBreakScript(), "");
  EXPECT_TRUE(capture.has(spdlog::level::info, "Unable to find file to parse at (null)"));
}

TEST(ZeltoDefaultsTest, AProgramWithoutIdentifierLogsOnlyTheIdentifierError) {
  TestEnv env(bundle("/usr/bin", std::nullopt));
  LogCapture capture;
  EXPECT_EQ(ZeltoDefaults::getZeltoApplicationPath(), std::nullopt);
  EXPECT_THAT(capture.texts(),
              ElementsAre("Error finding Zelto application path for current identifier=(null)"));
}

TEST(ZeltoDefaultsTest, ResourceLinesSkipCommentsAndEmptyLinesAndKeepEverythingElse) {
  TempDir dir;
  // A comment, an empty line, a pattern, and a line whose "#" comes after a space.
  std::string hosts = dir.write("hosts", "# comment\n\nreddit.com\n #not a comment");
  EXPECT_THAT(*ZeltoDefaults::parseResourceFile(hosts),
              ElementsAre("reddit.com", " #not a comment"));

  std::string windows = dir.write("windows", "a.com\r\nb.com\r\n");
  EXPECT_THAT(*ZeltoDefaults::parseResourceFile(windows), ElementsAre("a.com\r", "b.com\r"));

  EXPECT_EQ(ZeltoDefaults::parseResourceFile(dir / "missing"), std::nullopt);
  EXPECT_EQ(ZeltoDefaults::parseResourceFile(dir.write("latin1", "caf\xe9\n")), std::nullopt);
  EXPECT_THAT(*ZeltoDefaults::parseResourceFile(dir.write("empty", "")), ElementsAre());
}

TEST(ZeltoDefaultsTest, QuotesSplitIntoTextAndAuthorOnlyAtExactlyOneBar) {
  TempDir dir;
  std::string app = makeApplication(dir, "", "Text|Author\nNo author\nA|B|C\nTrailing|\n|Lead\n");
  TestEnv env(bundle(app, "Quarnix.zelto"));
  EXPECT_EQ(ZeltoDefaults::getDefaultQuotes(), nlohmann::json::parse(R"([
      {"quote": "Text", "author": "Author"},
      {"quote": "No author", "author": ""},
      {"quote": "A", "author": ""},
      {"quote": "Trailing", "author": ""},
      {"quote": "", "author": "Lead"}])"));
}

TEST(ZeltoDefaultsTest, AResourceIsReadAgainOnlyOnceItChanged) {
  TempDir dir;
  std::string app = makeApplication(dir, "a.com\n", "");
  TestEnv env(bundle(app, "Quarnix.zelto"));
  testing::FaultyFileSystem fs;
  Env::ScopedOverride files(Env::Services{.fileSystem = &fs});
  const std::string hosts = app + "/Contents/Resources/zelto";

  EXPECT_THAT(ZeltoDefaults::getDefaultHosts(), ElementsAre("a.com"));
  EXPECT_THAT(ZeltoDefaults::getDefaultHosts(), ElementsAre("a.com"));
  EXPECT_EQ(fs.reads(hosts), 1);
  dir.write("Zelto.app/Contents/Resources/zelto", "a.com\nb.com\n");  // in place
  EXPECT_THAT(ZeltoDefaults::getDefaultHosts(), ElementsAre("a.com", "b.com"));
  std::filesystem::rename(dir.write("replacement", "c.com\nd.com\n"), hosts);  // same size
  EXPECT_THAT(ZeltoDefaults::getDefaultHosts(), ElementsAre("c.com", "d.com"));
  EXPECT_EQ(fs.reads(hosts), 3);
}

TEST(ZeltoDefaultsTest, TheBuiltBundleShipsItsDefaults) {
  LocalFileSystem fs;
  BundleInfo agent = BundleInfo::forExecutable(
      std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/Agent.app/Contents/MacOS/Agent", fs);
  ASSERT_EQ(agent.bundleIdentifier, "Quarnix.zelto.agent");
  TestEnv env(agent);

  EXPECT_EQ(ZeltoDefaults::getZeltoApplicationPath(), std::string(ZELTO_TEST_APP_DIR));
  auto hosts = ZeltoDefaults::getDefaultHosts();
  EXPECT_GE(hosts.size(), 25u);
  for (const auto& host : hosts) EXPECT_EQ(host.find_first_of(" \r\t#"), std::string::npos) << host;
  // The sites' other faces are blocked with them.
  for (const char* url :
       {"https://old.reddit.com/r/x", "https://m.youtube.com/", "https://web.whatsapp.com/"}) {
    EXPECT_TRUE(std::any_of(hosts.begin(), hosts.end(), [&](const std::string& host) {
      return ZeltoURLMatcher(host).isMatch(url);
    })) << url;
  }
  auto quotes = ZeltoDefaults::getDefaultQuotes();
  EXPECT_GE(quotes.size(), 18u);
  for (const auto& quote : quotes) {
    EXPECT_FALSE(quote["quote"].get<std::string>().empty());
    EXPECT_FALSE(quote["author"].get<std::string>().empty()) << quote.dump();
  }
  for (const auto& script :
       {ZeltoDefaults::getDefaultZeltoScript(), ZeltoDefaults::getDefaultUnzeltoScript(),
        ZeltoDefaults::getDefaultBreakScript(), ZeltoDefaults::getDefaultUnbreakScript()}) {
    EXPECT_EQ(script.rfind("#", 0), 0u) << "each script only explains, in comments";
  }
}

}  // namespace
}  // namespace zelto
