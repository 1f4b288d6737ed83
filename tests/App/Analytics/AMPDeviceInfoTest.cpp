#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <map>
#include <regex>

#include "App/Analytics/AMPDeviceInfo.h"
#include "Support/TempDir.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

using testing::TempDir;
using testing::TestEnv;

// A machine of its own below a temporary root, with its own environment variables.
class AMPDeviceInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("de", "DE"), status);
    ASSERT_TRUE(U_SUCCESS(status));
  }
  void TearDown() override {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(savedLocale_, status);
  }

  AMPDeviceInfo info() {
    return AMPDeviceInfo(root_.path(), [this](const std::string& name) {
      auto it = environment_.find(name);
      return it == environment_.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
  }

  TempDir root_;
  std::map<std::string, std::string> environment_;

 private:
  icu::Locale savedLocale_ = icu::Locale::getDefault();
};

constexpr const char* kProductName = "sys/class/dmi/id/product_name";
constexpr const char* kOsRelease = "etc/os-release";
constexpr const char* kSystemVersion = "System/Library/CoreServices/SystemVersion.plist";

std::string systemVersionPlist(const std::string& version) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>ProductName</key><string>Mac OS X</string>"
         "<key>ProductVersion</key><string>" +
         version + "</string></dict></plist>\n";
}

TEST(AMPDeviceInfoModelTest, PlatformStringsMapToReadableNames) {
  const std::map<std::string, std::string> cases = {
      {"iPhone3,3", "iPhone 4"},  // one of several strings for a name
      {"x86_64", "Simulator"},
      // Prefixes: the longer Mac names win over "MacBook".
      {"MacBookPro11,1", "MacBook Pro"},
      {"MacBookAir7,2", "MacBook Air"},
      {"MacBook10,1", "MacBook"},
      // Anything else unchanged, including near misses of the table.
      {"Mac14,2", "Mac14,2"},
      {"ThinkPad X1 Carbon Gen 9", "ThinkPad X1 Carbon Gen 9"},
      {"iPhone7,3", "iPhone7,3"},
      {"macbookpro11,1", "macbookpro11,1"},
  };
  for (const auto& [platform, name] : cases) {
    EXPECT_EQ(AMPDeviceInfo::phoneModelFor(platform), name) << platform;
  }
}

TEST_F(AMPDeviceInfoTest, ModelComesFromTheDmiProductNameReadOnce) {
  root_.write(kProductName, "MacBookPro11,1\n");
  EXPECT_EQ(AMPDeviceInfo::platformStringBelow(root_.path()), "MacBookPro11,1");
  AMPDeviceInfo device = info();
  EXPECT_EQ(device.model(), "MacBook Pro");

  root_.write(kProductName, "  OptiPlex 7090 \t\n");
  EXPECT_EQ(device.model(), "MacBook Pro");
  EXPECT_EQ(info().model(), "OptiPlex 7090");

  TempDir bare;
  EXPECT_EQ(AMPDeviceInfo(bare.path(), nullptr).model(), "");
}

TEST_F(AMPDeviceInfoTest, OsVersionFromSystemVersionElseOsReleaseReadOnce) {
  root_.write(kOsRelease,
              "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\n");
  AMPDeviceInfo fromOsRelease = info();
  EXPECT_EQ(fromOsRelease.osVersion(), "12");

  root_.write(kOsRelease, "# comment\nID=ubuntu\nVERSION_ID='22.04'\n");
  EXPECT_EQ(fromOsRelease.osVersion(), "12");
  EXPECT_EQ(info().osVersion(), "22.04");
  root_.write(kOsRelease, "ID=arch\nVERSION_ID=20240101\n");
  EXPECT_EQ(info().osVersion(), "20240101");

  root_.write(kSystemVersion, systemVersionPlist("10.15.7"));
  EXPECT_EQ(info().osVersion(), "10.15.7");

  // A system-version file that can't be read for a version leaves the os-release one.
  root_.write(kSystemVersion, "<plist><dict><key>ProductVersion</key>");
  EXPECT_EQ(info().osVersion(), "20240101");
  root_.write(kSystemVersion, "<plist><dict><key>ProductVersion</key><integer>10</integer>");
  EXPECT_EQ(info().osVersion(), "20240101");

  root_.write(kOsRelease, "ID=debian\n");
  EXPECT_EQ(info().osVersion(), "");
  root_.write(kOsRelease, std::string(1 << 20, '\n') + "VERSION_ID=1\n");
  EXPECT_EQ(info().osVersion(), "");
}

TEST_F(AMPDeviceInfoTest, AppVersionIsTheBundlesShortVersionReadOnce) {
  BundleInfo bundle;
  bundle.shortVersion = "1.2.3";
  TestEnv env(bundle);
  AMPDeviceInfo device = info();
  EXPECT_EQ(device.appVersion(), "1.2.3");

  bundle.shortVersion = "2.0";
  Env::ScopedOverride newer(Env::Services{.mainBundle = bundle});
  EXPECT_EQ(device.appVersion(), "1.2.3");
  EXPECT_EQ(info().appVersion(), "2.0");

  bundle.shortVersion.reset();
  Env::ScopedOverride none(Env::Services{.mainBundle = bundle});
  EXPECT_EQ(info().appVersion(), "");
}

TEST_F(AMPDeviceInfoTest, CountryAndLanguageAreNamedInEnglishAndReadOnce) {
  AMPDeviceInfo device = info();
  EXPECT_EQ(device.country(), "Germany");
  EXPECT_EQ(device.language(), "German");

  UErrorCode status = U_ZERO_ERROR;
  icu::Locale::setDefault(icu::Locale("ja", "JP"), status);
  EXPECT_EQ(device.country(), "Germany");
  EXPECT_EQ(device.language(), "German");
  EXPECT_EQ(info().country(), "Japan");
  EXPECT_EQ(info().language(), "Japanese");

  // The first preferred language the user names, skipping what names none.
  environment_["LANGUAGE"] = "fr_CA.UTF-8:de";
  EXPECT_EQ(info().language(), "French");
  environment_["LANGUAGE"] = ":C:pt-BR";
  EXPECT_EQ(info().language(), "Portuguese");
  environment_["LANGUAGE"] = "";
  EXPECT_EQ(info().language(), "Japanese");
  EXPECT_EQ(info().country(), "Japan");
}

TEST_F(AMPDeviceInfoTest, VendorIdIsTheEn0HardwareAddressWhenThereIsOne) {
  EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root_.path()), std::nullopt);

  root_.write("sys/class/net/en0/address", "3c:22:fb:0a:1b:ff\n");
  EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root_.path()), "3C22FB0A1BFF");

  for (const char* malformed : {"3c:22:fb:0a:1b\n", "3c:22:fb:0a:1b:fg"}) {
    root_.write("sys/class/net/en0/address", malformed);
    EXPECT_EQ(AMPDeviceInfo::vendorIDBelow(root_.path()), std::nullopt) << malformed;
  }
}

TEST(AMPDeviceInfoUUIDTest, GeneratedIdsAreUUIDTextFollowedByR) {
  const std::string id = AMPDeviceInfo().generateUUID();
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}R"))) << id;
}

}  // namespace
}  // namespace zelto
