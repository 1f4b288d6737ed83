#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "App/Blocking/Helpers/URLHelpers.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;

Url parsed(const std::string& text) {
  auto url = Url::parse(text);
  EXPECT_TRUE(url.ok()) << text << ": " << url.status().message();
  return *url;
}

TEST(URLHelpersTest, ValidURLsNeedSchemeHostAndPath) {
  EXPECT_TRUE(URLHelpers::isValidURL(parsed("http://example.com/")));
  EXPECT_TRUE(URLHelpers::isValidURL(parsed("chrome://settings/")));
  EXPECT_FALSE(URLHelpers::isValidURL(parsed("http://example.com")));
  EXPECT_FALSE(URLHelpers::isValidURL(parsed("//example.com/")));
  EXPECT_FALSE(URLHelpers::isValidURL(parsed("example.com/a")));

  EXPECT_TRUE(URLHelpers::isValidEmptyDomain(parsed("//example.com")));
  EXPECT_FALSE(URLHelpers::isValidEmptyDomain(parsed("//example.com/")));
  EXPECT_FALSE(URLHelpers::isValidEmptyDomain(parsed("http://example.com")));
  EXPECT_FALSE(URLHelpers::isValidEmptyDomain(parsed("example.com")));
}

TEST(URLHelpersTest, NormalizingWhatAUserTyped) {
  auto normalized = [](std::string_view text) {
    auto url = URLHelpers::URLByNormalizing(text);
    return url.ok() ? url->absoluteString() : "failed: " + url.status().message();
  };
  EXPECT_EQ(normalized(" \texample.com\t "), "http://example.com/");
  EXPECT_EQ(normalized("www.example.com/a?b"), "http://www.example.com/a?b");
  EXPECT_EQ(normalized("https://example.com"), "https://example.com/");
  EXPECT_EQ(normalized("https://u@example.com:81?q=/#f"), "https://u@example.com:81/?q=/#f");
  EXPECT_EQ(normalized("HTTPS://example.com/x"), "HTTPS://example.com/x");
  EXPECT_EQ(normalized("httpbin.org"), "http://httpbin.org/");
  EXPECT_EQ(normalized("localhost:8080"), "http://localhost:8080/");
  EXPECT_THAT(normalized("exa mple.com"), HasSubstr("\"exa mple.com\" is not a web address"));
  EXPECT_THAT(normalized("http://example.com:99999/"), HasSubstr("failed"));
}

}  // namespace
}  // namespace zelto
