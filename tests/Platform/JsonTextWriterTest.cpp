#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "Platform/JsonTextWriter.h"

namespace zelto {
namespace {

using nlohmann::json;

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
