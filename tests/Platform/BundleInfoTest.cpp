#include <gtest/gtest.h>

#include "Platform/BundleInfo.h"
#include "Platform/FileSystem.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using testing::TempDir;

std::string infoPlist(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
         "</dict></plist>\n";
}

class BundleInfoTest : public ::testing::Test {
 protected:
  // Writes an executable's file (and the Info.plist, when given) and returns the executable.
  std::string install(const std::string& executable,
                      const std::optional<std::string>& plistPath = std::nullopt,
                      const std::string& plist = "") {
    std::string path = dir / executable;
    EXPECT_TRUE(fs.createDirectories(path::deletingLastComponent(path)));
    EXPECT_TRUE(fs.writeFileAtomically(path, "#!/bin/sh\n", nullptr, 0755));
    if (plistPath) {
      EXPECT_TRUE(fs.createDirectories(path::deletingLastComponent(dir / *plistPath)));
      EXPECT_TRUE(fs.writeFileAtomically(dir / *plistPath, plist));
    }
    return path;
  }

  TempDir dir;
  LocalFileSystem fs;
};

TEST_F(BundleInfoTest, ReadsTheBundleAroundContentsMacOS) {
  std::string executable =
      install("Tool.app/Contents/MacOS/Tool", "Tool.app/Contents/Info.plist",
              infoPlist("<key>CFBundleIdentifier</key><string>org.example.tool</string>"
                        "<key>CFBundleExecutable</key><string>Tool</string>"
                        "<key>CFBundleShortVersionString</key><string>1.4</string>"));
  BundleInfo info = BundleInfo::forExecutable(executable, fs);
  EXPECT_EQ(info.executablePath, executable);
  EXPECT_EQ(info.bundlePath, dir / "Tool.app");
  EXPECT_EQ(info.bundleIdentifier, "org.example.tool");
  EXPECT_EQ(info.executableName, "Tool");
  EXPECT_EQ(info.shortVersion, "1.4");
}

TEST_F(BundleInfoTest, WithoutAnInfoPlistTheExecutablesDirectoryIsTheBundle) {
  std::string executable = install("Tool.app/Contents/MacOS/Tool");
  BundleInfo info = BundleInfo::forExecutable(executable, fs);
  EXPECT_EQ(info.bundlePath, dir / "Tool.app/Contents/MacOS");
  EXPECT_EQ(info.bundleIdentifier, std::nullopt);
  EXPECT_EQ(info.shortVersion, std::nullopt);
}

TEST_F(BundleInfoTest, OutsideContentsMacOSThereIsNoBundle) {
  const std::string plist = infoPlist("<key>CFBundleIdentifier</key><string>x</string>");
  for (const auto& [executable, plistPath] : std::vector<std::pair<std::string, std::string>>{
           {"bin/tool", "Contents/Info.plist"},
           {"Tool.app/Other/MacOS/tool", "Tool.app/Other/Info.plist"},
           {"Tool.app/Contents/bin/tool", "Tool.app/Contents/Info.plist"}}) {
    std::string path = install(executable, plistPath, plist);
    BundleInfo info = BundleInfo::forExecutable(path, fs);
    EXPECT_EQ(info.bundlePath, path::deletingLastComponent(path)) << executable;
    EXPECT_EQ(info.bundleIdentifier, std::nullopt) << executable;
  }
}

TEST_F(BundleInfoTest, AnInfoPlistThatIsNotADictionaryIsIgnored) {
  for (const std::string& contents :
       {std::string("garbage"), std::string(""),
        std::string("<plist version=\"1.0\"><array><string>x</string></array></plist>")}) {
    std::string executable =
        install("Tool.app/Contents/MacOS/Tool", "Tool.app/Contents/Info.plist", contents);
    BundleInfo info = BundleInfo::forExecutable(executable, fs);
    EXPECT_EQ(info.bundlePath, dir / "Tool.app/Contents/MacOS") << contents;
    EXPECT_EQ(info.bundleIdentifier, std::nullopt) << contents;
  }
}

}  // namespace
}  // namespace zelto
