// The main application with a real browser: headless Chromium set up with the program's PAC
// file, as a user would set it up. The test sites listen on the machine's own network address,
// not on loopback, because the PAC file (and the browser itself) sends loopback addresses
// direct.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

constexpr const char* kChromium = "/usr/bin/chromium";

class BrowserEndToEndTest : public ::testing::Test {
 protected:
  // Chromium's view of `url` through the PAC file: the page's DOM after load, and a screenshot
  // saved to `screenshot` when one is named. A headless browser on a loaded machine now and then
  // aborts a load or never exits: such a run is tried again, up to three times in all.
  std::string browse(const std::string& url, const std::string& screenshot = "") {
    std::vector<std::string> arguments = {"--headless",
                                          "--no-sandbox",
                                          "--disable-gpu",
                                          "--disable-dev-shm-usage",
                                          "--no-first-run",
                                          "--user-data-dir=" + (app_.dir() / "chromium"),
                                          "--proxy-pac-url=" + app_.blockBase() + "/proxy.pac",
                                          "--window-size=1024,768"};
    arguments.push_back(screenshot.empty() ? "--dump-dom" : "--screenshot=" + screenshot);
    arguments.push_back(url);
    for (int attempt = 1; attempt <= 3; ++attempt) {
      ChildProcess browser(kChromium, {}, app_.dir() / "chromium.err", arguments,
                           app_.dir() / "chromium.out");
      auto status = browser.waitForExit(std::chrono::seconds(60));
      const std::string out = readWholeFile(app_.dir() / "chromium.out");
      const bool done = screenshot.empty() ? out.find("</html>") != std::string::npos
                                           : std::filesystem::exists(screenshot);
      if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0 && done) return out;
      std::printf("Chromium's attempt %d at %s failed:\n%s\n", attempt, url.c_str(),
                  readWholeFile(app_.dir() / "chromium.err").c_str());
    }
    ADD_FAILURE() << "Chromium never loaded " << url;
    return "";
  }

  MainAppUnderTest app_;
};

TEST_F(BrowserEndToEndTest, ABlockedSiteShowsTheBlockPageAndAnAllowedOneLoads) {
  if (!std::filesystem::exists(kChromium)) GTEST_SKIP() << kChromium << " is not installed";
  auto address = MainAppUnderTest::networkAddress();
  if (!address) GTEST_SKIP() << "no network address besides loopback to serve the sites on";
  HttpOrigin blocked(*address), allowed(*address);
  app_.writeConfig(MainAppUnderTest::timer(3600, {{"blockedWebsites", {blocked.pattern()}}}));
  ASSERT_TRUE(app_.start()) << app_.log();

  const std::string page = browse(blocked.url("/news"));
  EXPECT_THAT(page, HasSubstr(blocked.url("/news")));
  EXPECT_THAT(page, HasSubstr("Blocking ends in"));
  EXPECT_EQ(blocked.hits(), 0);
  const std::string shot = std::string(ZELTO_TEST_ARTIFACT_DIR) + "/block-page.png";
  std::filesystem::create_directories(ZELTO_TEST_ARTIFACT_DIR);
  std::filesystem::remove(shot);
  browse(blocked.url("/news"), shot);
  EXPECT_EQ(readWholeFile(shot).substr(0, 4), "\x89PNG") << "no screenshot at " << shot;

  EXPECT_THAT(browse(allowed.url("/html")), HasSubstr("The origin's own page")) << app_.log();
  EXPECT_GE(allowed.hits(), 1);
}

}  // namespace
}  // namespace zelto::testing
