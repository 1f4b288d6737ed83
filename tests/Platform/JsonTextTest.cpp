#include <gtest/gtest.h>

#include <string>

#include "Platform/JsonText.h"

namespace zelto {
namespace {

std::string nested(int levels, const std::string& inner = "") {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

TEST(JsonTextTest, RefusesNestingBeyondTheBoundAndCountsNoBracketsInsideStrings) {
  EXPECT_TRUE(JsonText::parse(nested(512)).ok());
  EXPECT_EQ(JsonText::parse(nested(513)).status().message(), "nesting deeper than 512 levels");
  EXPECT_EQ(JsonText::parse(std::string(200000, '{')).status().message(),
            "nesting deeper than 512 levels");
  // Brackets in strings, behind escaped quotes and backslashes, are text.
  const std::string brackets(2000, '[');
  auto inString = JsonText::parse(nested(510, "\"\\\\\", \"\\\"" + brackets + "\""));
  ASSERT_TRUE(inString.ok()) << inString.status().message();
  EXPECT_FALSE(JsonText::parse(nested(3, "\"\\\\\", " + nested(510))).ok());
  // Text that isn't JSON fails with the parser's message, without throwing.
  EXPECT_NE(JsonText::parse("{\"a\": ").status().message().find("parse error"), std::string::npos);
}

}  // namespace
}  // namespace zelto
