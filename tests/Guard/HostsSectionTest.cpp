#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Guard/HostsSection.h"

namespace zelto {
namespace {

using Hosts = std::vector<std::string>;

std::string sectionOf(const Hosts& hosts) { return HostsSection::section(hosts); }

TEST(HostsSectionTest, TheSectionSinksEachNameAndItsWwwFormOnBothFamilies) {
  EXPECT_EQ(sectionOf({"a.test", "www.b.test", "a.test"}),
            "# BEGIN zelto-guard: written while a lock runs; edits are undone\n"
            "0.0.0.0 a.test\n:: a.test\n0.0.0.0 www.a.test\n:: www.a.test\n"
            "0.0.0.0 www.b.test\n:: www.b.test\n"
            "# END zelto-guard\n");
  // Nothing in a list puts a line of its own into the file.
  EXPECT_EQ(sectionOf({"evil.test\n1.2.3.4 bank.test", "-x", "ok.test"}), sectionOf({"ok.test"}));
  EXPECT_EQ(sectionOf({}), "");
}

TEST(HostsSectionTest, ExactlyOneSectionAndEveryOtherLineKept) {
  const std::string a = sectionOf({"a.test"});
  const std::string old = sectionOf({"old.test"});
  struct Case {
    const char* name;
    std::string text;
    Hosts hosts;
    std::string expected;
  } cases[] = {
      {"first, before a last line without its newline",
       "127.0.0.1 localhost",
       {"a.test"},
       a + "127.0.0.1 localhost"},
      {"into an empty file", "", {"a.test"}, a},
      {"where the old one stood", "x\n" + old + "y", {"a.test"}, "x\n" + a + "y"},
      {"a BEGIN without END ends at the first line not ours",
       "x\n# BEGIN zelto-guard\n0.0.0.0 old.test\n:: old.test\nuser line\n",
       {"a.test"},
       "x\n" + a + "user line\n"},
      {"two sections become one", "A\n" + old + "B\n" + old + "C", {"a.test"}, "A\n" + a + "B\nC"},
      {"someone's line inside the marks is kept after them",
       "# BEGIN zelto-guard\n0.0.0.0 a.test\n1.2.3.4 mine\n# END zelto-guard\n",
       {"a.test"},
       a + "1.2.3.4 mine\n"},
      {"a hand-edited END without its newline",
       "x\n" + a.substr(0, a.size() - 1),
       {"a.test"},
       "x\n" + a},
      {"no hosts: no section", "x\n" + old + "y", {}, "x\ny"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HostsSection::withSection(c.text, c.hosts), c.expected) << c.name;
    EXPECT_EQ(HostsSection::withoutSection(c.expected), HostsSection::withoutSection(c.text))
        << c.name;
  }
}

TEST(HostsSectionTest, RemovingGivesBackTheTextByteForByte) {
  for (const std::string text : {"", "127.0.0.1 localhost", "a\r\nb\r\n", "a\n\n# comment\n"}) {
    const std::string added = HostsSection::withSection(text, {"a.test", "b.test"});
    EXPECT_NE(added, text);
    EXPECT_EQ(HostsSection::withoutSection(added), text) << text;
    EXPECT_EQ(HostsSection::withSection(added, {"a.test", "b.test"}), added) << text;
  }
}

}  // namespace
}  // namespace zelto
