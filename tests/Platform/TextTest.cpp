#include <gtest/gtest.h>

#include "Platform/LocaleDateFormatter.h"
#include "Platform/Text.h"

namespace zelto {
namespace {

TEST(TextTest, LowercaseUsesFullUnicodeMappingInTheRootLocaleAndChangesNothingElse) {
  // The bytes just outside A-Z ("@", "[", "`") and every other ASCII byte stay as they are.
  EXPECT_EQ(Text::lowercase("HTTP://WWW.Example.COM/@[\\]^_`{|}~09?Q=Z\t"),
            "http://www.example.com/@[\\]^_`{|}~09?q=z\t");
  EXPECT_EQ(Text::lowercase(std::string_view("A\0B", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Text::lowercase("ÄB"), "äb");
  EXPECT_EQ(Text::lowercase("İ"), "i\u0307");  // one character becomes two
  // Invalid sequences read as replacement characters.
  EXPECT_EQ(Text::lowercase("A\xFF"
                            "B"),
            "a\uFFFDb");

  // The user's locale doesn't count: under Turkish rules "I" would become a dotless "ı".
  const std::string locale = LocaleDateFormatter::defaultLocale();
  LocaleDateFormatter::setDefaultLocale("tr_TR");
  EXPECT_EQ(Text::lowercase("ISTANBUL.ÇOM"), "istanbul.çom");
  LocaleDateFormatter::setDefaultLocale(locale);
}

// Protocol names: ASCII letters without case, every other byte as it is.
TEST(TextTest, AsciiCaseBlindComparisonFoldsOnlyAsciiLetters) {
  struct Case {
    std::string_view a, b;
    bool equal;
  };
  for (const Case& c : std::initializer_list<Case>{{"Content-LENGTH", "content-length", true},
                                                   {"host", "hosts", false},
                                                   {"@[`{", "`{@[", false},  // not letters
                                                   {"ÄB", "äb", false},      // not ASCII
                                                   {"İ", "i", false}}) {
    EXPECT_EQ(Text::equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " " << c.b;
  }
  EXPECT_TRUE(Text::startsWithIgnoringAsciiCase("HTTPS://a", "https://"));
  EXPECT_FALSE(Text::startsWithIgnoringAsciiCase("http", "https://"));
  EXPECT_EQ(Text::asciiLowercase("WWW.ÄB.Com"), "www.Äb.com");
}

TEST(TextTest, TrimBlanksRemovesHorizontalSpaceOfEveryKindAtBothEndsOnly) {
  EXPECT_EQ(Text::trimBlanks(" \t\u00A0\u3000a b\u2003c\u2009\t  "), "a b\u2003c");
  // Line ends and other white space that isn't blank stay, and so does what's inside them.
  EXPECT_EQ(Text::trimBlanks(" \n a \r\n "), "\n a \r\n");
  EXPECT_EQ(Text::trimBlanks("\v\fx\u200B"), "\v\fx\u200B");
  // A lone continuation byte of U+00A0 ("\xA0") isn't a blank, nor is a cut-off lead byte.
  EXPECT_EQ(Text::trimBlanks("\xA0x\xA0"), "\xA0x\xA0");
  EXPECT_EQ(Text::trimBlanks(" x\xC2"), "x\xC2");
  EXPECT_EQ(Text::trimBlanks("x\xE3\x80\x80"), "x");  // U+3000, whole
}

}  // namespace
}  // namespace zelto
