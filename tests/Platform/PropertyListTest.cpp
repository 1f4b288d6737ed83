#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Platform/PropertyList.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

std::optional<json> roundTrip(const json& value) {
  auto xml = PropertyList::toXML(value);
  if (!xml) return std::nullopt;
  return PropertyList::parse(*xml);
}

TEST(PropertyListTest, RoundTripsNestedValuesThroughXML) {
  json value = {
      {"enabled", true},
      {"disabled", false},
      {"offset", -42},
      {"largest", INT64_MAX},
      {"smallest", INT64_MIN},
      {"ratio", -2.5},
      {"tiny", 1e-9},
      {"name", "Grüße <&> \"日本\" 🎉"},
      {"empty text", ""},
      {"nested", {{"list", json::array({1, "two", json::array(), json::object()})}}},
      {"empty", json::object()},
  };
  auto back = roundTrip(value);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, value) << back->dump(2);
  // Other readers expect a negative integer written with its sign.
  EXPECT_THAT(*PropertyList::toXML(value), HasSubstr("<integer>-42</integer>"));
}

TEST(PropertyListTest, NullCannotBeWrittenAnywhere) {
  EXPECT_EQ(PropertyList::toXML(nullptr), std::nullopt);
  EXPECT_EQ(PropertyList::toXML(json{{"a", {{"b", nullptr}}}}), std::nullopt);
  EXPECT_EQ(PropertyList::toXML(json::array({1, nullptr})), std::nullopt);
}

TEST(PropertyListTest, ParseRejectsWhatIsNotAPropertyList) {
  EXPECT_EQ(PropertyList::parse(""), std::nullopt);
  EXPECT_EQ(PropertyList::parse("not a plist"), std::nullopt);
  EXPECT_EQ(PropertyList::parse("{\"json\": true}"), std::nullopt);
  EXPECT_EQ(PropertyList::parse("<?xml version=\"1.0\"?><plist><dict><key>a</key>"), std::nullopt);
  EXPECT_EQ(PropertyList::parse(std::string("bplist00\0\0\0", 11)), std::nullopt);
}

TEST(PropertyListTest, ParsesAHandWrittenInfoPlist) {
  const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<!-- written by hand -->
	<key>CFBundleIdentifier</key>
	<string>org.example.tool</string>
	<key>CFBundleShortVersionString</key>
	<string>2.3.1</string>
	<key>LSUIElement</key>
	<true/>
	<key>Count</key>
	<integer>12</integer>
	<key>Scale</key>
	<real>0.5</real>
	<key>Escaped</key>
	<string>a &amp; b &lt;c&gt;</string>
	<key>Types</key>
	<array>
		<string>one</string>
		<dict/>
	</array>
</dict>
</plist>
)";
  auto value = PropertyList::parse(xml);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, (json{{"CFBundleIdentifier", "org.example.tool"},
                          {"CFBundleShortVersionString", "2.3.1"},
                          {"LSUIElement", true},
                          {"Count", 12},
                          {"Scale", 0.5},
                          {"Escaped", "a & b <c>"},
                          {"Types", json::array({"one", json::object()})}}));
}

}  // namespace
}  // namespace zelto
