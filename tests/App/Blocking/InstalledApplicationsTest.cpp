#include <gtest/gtest.h>
#include <strings.h>

#include "App/Blocking/BlockedExecutables.h"
#include "App/Blocking/InstalledApplications.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

std::string entry(const std::string& keys) {
  return "[Desktop Entry]\nType=Application\nExec=/bin/true %U\n" + keys + "\n";
}

class InstalledApplicationsTest : public ::testing::Test {
 protected:
  testing::TestEnv env_;
  const testing::TempDir& dir_ = env_.temp();
  const std::vector<std::string> data_{dir_ / "home", dir_ / "sys"};
  const std::vector<std::string> pixmaps_{dir_ / "pixmaps"};
};

// What the desktop shows in its menus, and nothing it hides or that couldn't be blocked.
TEST_F(InstalledApplicationsTest, ListsWhatTheDesktopShowsEarlierFoldersFirst) {
  for (const char* icon :
       {"sys/icons/hicolor/scalable/apps/editor.svg", "home/icons/hicolor/48x48/apps/viewer.png",
        "sys/icons/hicolor/256x256/apps/viewer.png", "pixmaps/pix.png", "own/logo.png",
        "own/logo.xpm"}) {
    dir_.write(icon, "icon");
  }
  struct Row {
    std::string file;
    std::string text;
    std::string listedAs;  // empty: not listed
    std::string icon;      // relative to the temp folder; empty: none
  };
  const std::vector<Row> rows{
      {"home/applications/editor.desktop", entry("Name=Editor\nIcon=editor"), "Editor",
       "sys/icons/hicolor/scalable/apps/editor.svg"},
      {"sys/applications/editor.desktop", entry("Name=Hidden by the user's"), "", ""},
      {"home/applications/gone.desktop", entry("Name=Gone\nHidden=true"), "", ""},
      {"sys/applications/gone.desktop", entry("Name=Deleted by the user"), "", ""},
      {"home/applications/kde-calc.desktop", entry("Name=calc"), "calc", ""},
      {"sys/applications/kde/calc.desktop", entry("Name=Same ID as kde-calc"), "", ""},
      {"sys/applications/a/b/c/d/deep.desktop", entry("Name=Four deep"), "Four deep", ""},
      {"sys/applications/a/b/c/d/e/deeper.desktop", entry("Name=Too deep"), "", ""},
      {"sys/applications/viewer.desktop", entry("Name=Viewer\nIcon = viewer"), "Viewer",
       "sys/icons/hicolor/256x256/apps/viewer.png"},
      {"sys/applications/pix.desktop", entry("Name=Pix\nIcon=pix"), "Pix", "pixmaps/pix.png"},
      {"sys/applications/own.desktop", entry("Name=Own\\sIcon\nIcon=" + (dir_ / "own/logo.png")),
       "Own Icon", "own/logo.png"},
      {"sys/applications/xpm.desktop", entry("Name=Xpm\nIcon=" + (dir_ / "own/logo.xpm")), "Xpm",
       ""},
      {"sys/applications/relative.desktop", entry("Name=Rel\nIcon=../pixmaps/pix"), "Rel", ""},
      {"sys/applications/menuless.desktop", entry("Name=Menuless\nNoDisplay=true"), "", ""},
      {"sys/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=http://x\n", "",
       ""},
      {"sys/applications/wrapped.desktop",
       "[Desktop Entry]\nType=Application\nName=Wrapped\nExec=flatpak run org.x\n", "", ""},
      {"sys/applications/nameless.desktop", entry("Name[de]=Namenlos"), "", ""},
      {"sys/applications/huge.desktop", entry("Name=Huge\nComment=" + std::string(300000, 'x')), "",
       ""},
      {"sys/applications/binary.desktop", entry("Name=Bad \xff"), "", ""},
      {"sys/applications/other.txt", entry("Name=Not an entry"), "", ""},
  };
  std::vector<InstalledApplication> expected;
  for (const Row& row : rows) {
    const std::string path = dir_.write(row.file, row.text);
    if (row.listedAs.empty()) continue;
    expected.push_back(
        {row.listedAs, path, row.icon.empty() ? std::nullopt : std::optional(dir_ / row.icon)});
  }
  std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
    return ::strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
  });

  const std::vector<InstalledApplication> listed =
      InstalledApplications::list(env_.fs(), data_, pixmaps_);
  ASSERT_EQ(listed.size(), expected.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(listed[i].name, expected[i].name);
    EXPECT_EQ(listed[i].path, expected[i].path);
    EXPECT_EQ(listed[i].iconFile, expected[i].iconFile);
    // What is listed is what a blocked-application entry takes.
    EXPECT_TRUE(BlockedExecutables::checkEntry(listed[i].path, env_.fs()).ok());
  }

  // The session's folders come from its environment.
  env_.setVariable("XDG_DATA_HOME", data_[0]);
  env_.setVariable("XDG_DATA_DIRS", data_[1]);
  EXPECT_EQ(InstalledApplications::list(env_.fs()).size(), expected.size());
}

TEST_F(InstalledApplicationsTest, ReadsAtMostItsBoundOfEntries) {
  for (size_t i = 0; i <= InstalledApplications::kMaxEntries; ++i) {
    dir_.write("sys/applications/app" + std::to_string(i) + ".desktop", entry("Name=A"));
  }
  EXPECT_EQ(InstalledApplications::list(env_.fs(), data_, pixmaps_).size(),
            InstalledApplications::kMaxEntries);
}

}  // namespace
}  // namespace zelto
