#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Regex.h"
#include "Support/LogCapture.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;

Regex compiled(std::string_view source) {
  Result<Regex> regex = Regex::compile(source);
  EXPECT_TRUE(regex.ok()) << regex.status().message();
  return *regex;
}

TEST(RegexTest, MatchesAnywhereUnlessAnchoredReadingCharactersNotBytes) {
  EXPECT_TRUE(compiled("a.c").isMatch("http://xabcx.com/"));
  EXPECT_FALSE(compiled("^a.c").isMatch("http://xabcx.com/"));
  EXPECT_TRUE(compiled("^caf.$").isMatch("café"));
  // An invalid sequence in a text reads as U+FFFD and doesn't stop the search.
  EXPECT_TRUE(compiled("a\\x{FFFD}b")
                  .isMatch("a\xFF"
                           "b"));
  EXPECT_TRUE(compiled("z").isMatch("\xC3z"));
}

TEST(RegexTest, CompileFailuresNameTheSourceAndTheReason) {
  Result<Regex> unbalanced = Regex::compile("(a");
  ASSERT_FALSE(unbalanced.ok());
  EXPECT_THAT(unbalanced.status().message(), HasSubstr("\"(a\""));
  EXPECT_THAT(unbalanced.status().message(), HasSubstr("U_REGEX_MISMATCHED_PAREN"));

  for (std::string_view source : {std::string_view("a\xFF"), std::string_view("\xC3"),
                                  std::string_view("\xED\xA0\x80"),       // a surrogate
                                  std::string_view("a\0\xC0\x80", 4)}) {  // overlong NUL
    Result<Regex> invalid = Regex::compile(source);
    ASSERT_FALSE(invalid.ok()) << source;
    EXPECT_THAT(invalid.status().message(), HasSubstr("not valid UTF-8"));
  }
}

TEST(RegexTest, CatastrophicBacktrackingGivesUpAsNoMatchAndWarnsOncePerExpression) {
  testing::LogCapture capture;
  const std::string text = std::string(5000, 'a') + "b";
  const std::string prefix = "Regex \"(a+)+$\" gave up on a URL: ";

  const Regex regex = compiled("(a+)+$");
  const Regex copy = regex;  // shares the expression and its warned-once flag
  EXPECT_FALSE(regex.isMatch(text));
  EXPECT_FALSE(copy.isMatch(text));
  EXPECT_EQ(capture.countStartingWith(prefix), 1u);
  const std::vector<testing::CapturedLine> lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, spdlog::level::warn);
  EXPECT_TRUE(lines[0].text == prefix + "it ran past its time limit" ||
              lines[0].text == prefix + "it ran out of backtracking stack")
      << lines[0].text;

  // The expression still answers texts it can finish.
  EXPECT_TRUE(regex.isMatch("aaa"));
  EXPECT_FALSE(regex.isMatch("b"));

  // Another compilation of the same source is another expression: it warns for itself.
  EXPECT_FALSE(compiled("(a+)+$").isMatch(text));
  EXPECT_EQ(capture.countStartingWith(prefix), 2u);
}

TEST(RegexTest, OneExpressionSearchedFromManyThreadsAtOnce) {
  const Regex regex = compiled("^https?://([a-z]+\\.)?blocked\\.com/");
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 300; ++i) {
        const bool blocked = (i + t) % 2 == 0;
        const std::string url = blocked
                                    ? "https://www.blocked.com/page" + std::to_string(i)
                                    : "https://www.allowed.com/blocked.com/" + std::to_string(i);
        if (regex.isMatch(url) != blocked) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace zelto
