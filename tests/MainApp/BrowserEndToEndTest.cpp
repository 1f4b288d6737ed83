// The main application with a real browser: headless Chromium set up with the program's PAC
// file, as a user would set it up. The test sites listen on the machine's own network address,
// not on loopback, because the PAC file (and the browser itself) sends loopback addresses
// direct.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Support/HeadlessChromium.h"
#include "Support/HttpOrigin.h"
#include "Support/MainAppUnderTest.h"

namespace zelto::testing {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

class BrowserEndToEndTest : public ::testing::Test {
 protected:
  // Chromium's view of `url` through the PAC file (see HeadlessChromium).
  std::string browse(const std::string& url, const std::string& screenshot = "") {
    return testing::browse(app_.dir().path(), url,
                           {"--proxy-pac-url=" + app_.blockBase() + "/proxy.pac"}, screenshot);
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
