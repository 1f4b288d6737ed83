#include <gtest/gtest.h>

#include "Platform/BundleInfo.h"
#include "Platform/FileSystem.h"
#include "Platform/PropertyList.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

const std::string kPlist = *PropertyList::toXML({{"CFBundleIdentifier", "org.example.tool"},
                                                 {"CFBundleExecutable", "Tool"},
                                                 {"CFBundleShortVersionString", "1.4"}});

// The bundle around Contents/MacOS; otherwise the executable's directory is the bundle.
TEST(BundleInfoTest, ReadsTheBundleAroundContentsMacOSElseTheExecutablesDirectoryIsTheBundle) {
  testing::TempDir dir;
  LocalFileSystem fs;
  dir.write("Tool.app/Contents/Info.plist", kPlist);
  BundleInfo info = BundleInfo::forExecutable(dir / "Tool.app/Contents/MacOS/Tool", fs);
  EXPECT_EQ(info.executablePath, dir / "Tool.app/Contents/MacOS/Tool");
  EXPECT_EQ(info.bundlePath, dir / "Tool.app");
  EXPECT_EQ(info.bundleIdentifier, "org.example.tool");
  EXPECT_EQ(info.executableName, "Tool");
  EXPECT_EQ(info.shortVersion, "1.4");

  dir.write("Contents/Info.plist", kPlist);
  dir.write("Bad.app/Contents/Info.plist", "<plist><array><string>x</string></array></plist>");
  for (const char* executable : {"bin/tool", "Tool.app/Contents/bin/tool",
                                 "Empty.app/Contents/MacOS/Tool", "Bad.app/Contents/MacOS/Tool"}) {
    info = BundleInfo::forExecutable(dir / executable, fs);
    EXPECT_EQ(info.bundlePath, path::deletingLastComponent(dir / executable)) << executable;
    EXPECT_EQ(info.bundleIdentifier, std::nullopt) << executable;
    EXPECT_EQ(info.shortVersion, std::nullopt) << executable;
  }
}

}  // namespace
}  // namespace zelto
