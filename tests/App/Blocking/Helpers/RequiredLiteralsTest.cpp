#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "App/Blocking/Helpers/RequiredLiterals.h"

namespace zelto {
namespace {

using Conditions = std::vector<RequiredLiterals::AnyOf>;

// Only what every match must contain, and nothing from a source it doesn't follow in full.
TEST(RequiredLiteralsTest, ClaimsOnlyTextsEveryMatchContains) {
  const std::vector<std::pair<std::string, Conditions>> cases = {
      {"news\\.com\\/a\\?", {{"news.com/a?"}}},
      // "." and classes end a literal; a class of one safe character is that character.
      {"https?://(www\\.)?news[.]com/", {{"http"}, {"://"}, {"news.com/"}}},
      {"a.b[a-z]c[^.]d\\de\\sf", {{"a"}, {"b"}, {"c"}, {"d"}, {"e"}, {"f"}}},
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
      // Lookarounds, anchors and back references say nothing; they end a literal.
      {"x(?!news)y(?=z)(?<=x)(?<!q)", {{"x"}, {"y"}}},
      {"^ab$c(d)\\1e", {{"ab"}, {"c"}, {"d"}, {"e"}}},
      // Non-ASCII characters and escaped spaces count as nothing.
      {"gü\\ te", {{"g"}, {"te"}}},
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
    EXPECT_EQ(RequiredLiterals::of(source), expected) << source;
  }
}

}  // namespace
}  // namespace zelto
