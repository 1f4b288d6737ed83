#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "App/Blocking/Helpers/RequiredLiterals.h"

namespace zelto {
namespace {

using Conditions = std::vector<RequiredLiterals::AnyOf>;

// The conditions with each "_" in their texts made a gap.
Conditions gapped(Conditions conditions) {
  for (auto& anyOf : conditions) {
    for (std::string& text : anyOf)
      std::replace(text.begin(), text.end(), '_', RequiredLiterals::kGap);
  }
  return conditions;
}

// Only what every match must contain, and nothing from a source it doesn't follow in full.
TEST(RequiredLiteralsTest, ClaimsOnlyTextsEveryMatchContains) {
  const std::vector<std::pair<std::string, Conditions>> cases = {
      {"news\\.com\\/a\\?", {{"news.com/a?"}}},
      // What stands for any one character is a gap; a set of one safe character is that
      // character.
      {"https?://(www\\.)?news[.]com/", {{"http"}, {"://"}, {"news.com/"}}},
      {"a.b[a-z]c[^.]d\\de\\sf..", {{"a_b_c_d_e_f"}}},
      {"gü\\ t\\é.\\n", {{"g__t"}}},
      // Positions, line breaks and back references end a text.
      {"a\\bb\\rc\\Rd^e$f(g)\\1h", {{"a"}, {"b_c"}, {"d"}, {"e"}, {"f"}, {"g"}, {"h"}}},
      // A quantified character or group is left out, whatever the quantifier.
      {"ab+c", {{"a"}, {"c"}}},
      {"abc?d", {{"ab"}, {"d"}}},
      {"ab{2}c|", {}},
      {"ab{0,3}?c", {{"a"}, {"c"}}},
      {"(news)?mail(x)*(y)+", {{"mail"}}},
      // Alternation: one of the branches' texts; an empty branch needs nothing.
      {"(news|mail)\\.com", {{"mail", "news"}, {".com"}}},
      {"news|mail", {{"mail", "news"}}},
      {"(a|b|)c", {{"c"}}},
      {"(?:x(y|z)|w)v", {{"w", "x"}, {"v"}}},  // the cheaper of "x" and "y" or "z"
      // Lookarounds say nothing.
      {"x(?!news)y(?=z)(?<=x)(?<!q)", {{"x"}, {"y"}}},
      // Sources it doesn't follow in full.
      {"(?i)news", {}},
      {"\\qnews\\e", {}},
      {"\\x41news", {}},
      {"\\p{l}news", {}},
      {"(?<n>news)", {}},
      {"[{ab}]news", {}},
      {"a{x}news", {}},
      {"*news", {}},
      {"(news", {}},
      {"news)", {}},
      {"[news", {}},
      {std::string(40, '(') + "news" + std::string(40, ')'), {}},
  };
  for (const auto& [source, expected] : cases) {
    EXPECT_EQ(RequiredLiterals::of(source), gapped(expected)) << source;
  }
}

TEST(RequiredLiteralsTest, AGapIsOneCharacterOfOneToFourBytes) {
  const std::string literal = gapped({{"a_b"}})[0][0];
  for (std::string_view text : {"axb", "xxaüb", "a日b", "a\U0001F600b", "ab axb"}) {
    EXPECT_TRUE(RequiredLiterals::isIn(literal, text)) << text;
    // Anchored at its "b": a step back over the gap.
    EXPECT_TRUE(RequiredLiterals::isAt(literal, text, 2, text.rfind('b'))) << text;
  }
  for (std::string_view text : {"ab", "axxb", "aüüb", "a", "xb"}) {
    EXPECT_FALSE(RequiredLiterals::isIn(literal, text)) << text;
    if (text.size() > 1) {
      EXPECT_FALSE(RequiredLiterals::isAt(literal, text, 2, text.rfind('b'))) << text;
    }
  }
}

}  // namespace
}  // namespace zelto
