#include <gtest/gtest.h>

#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "Platform/JsonText.h"
#include "Platform/JsonTextWriter.h"
#include "Support/NestedText.h"

namespace zelto {
namespace {

using nlohmann::json;
using testing::nested;

TEST(JsonTextTest, RefusesNestingBeyondTheBoundAndCountsNoBracketsInsideStrings) {
  EXPECT_TRUE(JsonText::parse(nested("[", "]", 512)).ok());
  EXPECT_EQ(JsonText::parse(nested("[", "]", 513)).status().message(),
            "nesting deeper than 512 levels");
  EXPECT_EQ(JsonText::parse(std::string(200000, '{')).status().message(),
            "nesting deeper than 512 levels");
  // Brackets in strings, behind escaped quotes and backslashes, are text.
  const std::string brackets(2000, '[');
  auto inString = JsonText::parse(nested("[", "]", 510, "\"\\\\\", \"\\\"" + brackets + "\""));
  ASSERT_TRUE(inString.ok()) << inString.status().message();
  EXPECT_FALSE(JsonText::parse(nested("[", "]", 3, "\"\\\\\", " + nested("[", "]", 510))).ok());
  // Text that isn't JSON fails with the parser's message, without throwing.
  EXPECT_NE(JsonText::parse("{\"a\": ").status().message().find("parse error"), std::string::npos);
}

// The value with the kind of every number shown: values the library calls equal but whose
// numbers differ in kind (signed, unsigned, floating) print differently.
std::string withKinds(const json& value) {
  std::string out;
  if (value.is_structured()) {
    out = value.is_array() ? "[" : "{";
    for (const auto& [key, item] : value.items()) out += key + ":" + withKinds(item) + ",";
    return out + (value.is_array() ? "]" : "}");
  }
  out = value.is_number_unsigned() ? "u" : value.is_number_integer() ? "i" : "";
  return out + value.dump();
}

TEST(JsonTextTest, GivesWhatTheLibrarysParserGivesOrItsReason) {
  const std::string large = "[" + std::string(100000, ' ') + "\"x\"]";
  const std::vector<std::string> texts = {
      "{\"a\":[1,-1,0,-0,0.0,-0.0,1e2,2.5e-3,18446744073709551615,9223372036854775808]}",
      "[-9223372036854775808,-9223372036854775809,18446744073709551616,1e400,-1e400,4.9e-325]",
      "[-0 ]", "[\"-0\",\"a-0\"]", "{\"k\":1,\"k\":2,\"j\":{\"x\":null,\"x\":[true,false]}}",
      "\xef\xbb\xbf{\"bom\":1}", " {\"ws\" : [ ] , \"o\" : { } } ", large,
      "[\"\\u00e9\\ud83d\\ude00\\u0000\\/\\\"\\\\\",\"\xc3\xa9\x7f\"]",
      // Refused: the reason is the library's.
      "", "[1,]", "[01]", "{\"a\" 1}", "[1] x", "[tru]", "[\"\\x\"]", "[\"a\tb\"]", "[\"\xff\"]",
      "[\"\xed\xa0\x80\"]", "[\"\\ud800\"]", "[\"\\udc00\"]", "[\"\\ud800\\u0041\"]",
      "{\"a\":[1,2}", "[\"unterminated]", "[nul]", "[null x]", "[1 2]", "{\"a\":1,}", "{,}",
      "{1:2}", "[1]]", "{\"a\":1 \"b\":2}", "[\"a\":1]", "{\"a\"}",
      // Not containers: left to the library's parser.
      "1", "\"s\"", "null", "true"};
  for (const std::string& text : texts) {
    Result<json> parsed = JsonText::parse(text);
    std::string expected;
    try {
      expected = withKinds(json::parse(text));
    } catch (const std::exception& e) {
      expected = e.what();
    }
    EXPECT_EQ(parsed.ok() ? withKinds(*parsed) : parsed.status().message(), expected)
        << text.substr(0, 80);
  }
}

TEST(JsonTextWriterTest, WritesTheBytesOfTheLibrarysCompactPrint) {
  std::vector<json> values{
      json::object(),          json::array(), nullptr, true,        0, -0.0, -7,
      18446744073709551615ULL, 2.5,           1e300,   std::nan("")};
  values.push_back({{"b", {1, "x", json::object()}},
                    {"a", {{"nested", json::array({json::array()})}}},
                    {"\x01key", "v"}});
  // Texts: escapes anywhere in or beside runs of eight plain bytes, and beyond ASCII.
  for (const char* text :
       {"plain text", "", "quote \" backslash \\ slash / controls \b\f\n\r\t \x01\x1f delete \x7f",
        "\xc3\xa9 \xf0\x9f\x98\x80 beyond ASCII", "eight by eight, then \"", "\\\\\"\"\\\"\\x\\",
        "7 bytes\\ 8 bytes\x1f", "a long plain run \xc3\xa9"}) {
    values.push_back(text);
  }
  for (const json& value : values) {
    std::string out = "prefix";
    JsonTextWriter writer(out);
    writer.value(value);
    EXPECT_EQ(out, "prefix" + value.dump()) << value.dump();
  }
  // Text that isn't UTF-8 is refused with the library's error, wherever it is.
  for (const json& bad : {json("a\xff"), json({{"k", {"ok", "\xc3"}}})}) {
    std::string out;
    JsonTextWriter writer(out);
    std::string expected;
    try {
      (void)bad.dump();
    } catch (const json::type_error& e) {
      expected = e.what();
    }
    try {
      writer.value(bad);
      ADD_FAILURE() << "no error for " << bad.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const json::type_error& e) {
      EXPECT_EQ(e.what(), expected);
    }
  }
}

}  // namespace
}  // namespace zelto
