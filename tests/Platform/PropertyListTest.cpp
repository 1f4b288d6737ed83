#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/PropertyList.h"
#include "Support/NestedText.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

TEST(PropertyListTest, RoundTripsNestedValuesThroughXML) {
  const json value = json::parse(R"({"enabled": true, "offset": -42, "ratio": -2.5,
      "smallest": -9223372036854775808, "name": "Grüße <&> \"日本\" 🎉",
      "nested": {"list": [1, "two", [], {}]}})");
  auto xml = PropertyList::toXML(value);
  ASSERT_TRUE(xml.has_value());
  EXPECT_EQ(PropertyList::parse(*xml), value) << *xml;
  // Other readers expect a negative integer written with its sign.
  EXPECT_THAT(*xml, HasSubstr("<integer>-42</integer>"));
}

std::string xmlNested(size_t levels, const std::string& open, const std::string& close) {
  return testing::plistDocument(testing::nested(open, close, levels));
}

std::string bigEndian(uint64_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

// A binary property list of arrays, the first on top; each array lists the objects it holds.
std::string binaryArrays(const std::vector<std::vector<uint32_t>>& arrays) {
  std::string out = "bplist00", offsets;
  for (const auto& items : arrays) {
    offsets += bigEndian(out.size(), 4);
    out += items.size() < 15 ? std::string(1, static_cast<char>(0xA0 | items.size()))
                             : "\xAF\x12" + bigEndian(items.size(), 4);
    for (uint32_t item : items) out += bigEndian(item, 3);
  }
  const uint64_t table = out.size();
  return out + offsets + std::string(6, '\0') + '\x04' + '\x03' + bigEndian(arrays.size(), 8) +
         bigEndian(0, 8) + bigEndian(table, 8);
}

// Arrays nested `levels` deep, each holding the next; the last one empty.
std::vector<std::vector<uint32_t>> chain(uint32_t levels, uint32_t first = 0) {
  std::vector<std::vector<uint32_t>> arrays;
  for (uint32_t i = 1; i < levels; ++i) arrays.push_back({first + i});
  arrays.push_back({});
  return arrays;
}

// The library recurses once per level and fails long before 200,000 levels: such bytes never
// reach it.
TEST(PropertyListTest, RefusesNestingDeeperThanTheBound) {
  for (const auto& [open, close] : std::vector<std::pair<std::string, std::string>>{
           {"<array>", "</array>"}, {"<dict><key>k</key>", "</dict>"}}) {
    EXPECT_FALSE(PropertyList::parse(xmlNested(200000, open, close))) << open;
    EXPECT_FALSE(PropertyList::parse(xmlNested(513, open, close))) << open;
    EXPECT_TRUE(PropertyList::parse(xmlNested(512, open, close))) << open;
  }
  // Closing tags in comments and CDATA sections close nothing; empty elements open nothing.
  EXPECT_FALSE(PropertyList::parse(
      xmlNested(600, "<array><!-- </array> --><![CDATA[</array>]]>", "</array>")));
  EXPECT_TRUE(PropertyList::parse(xmlNested(500, "<array><array/><dict/>", "</array>")));

  EXPECT_FALSE(PropertyList::parse(binaryArrays(chain(200000))));
  EXPECT_FALSE(PropertyList::parse(binaryArrays(chain(513))));
  auto deepest = PropertyList::parse(binaryArrays(chain(512)));
  ASSERT_TRUE(deepest);
  EXPECT_EQ(deepest->dump().size(), 1024u);
  // An array held in two places counts at its deepest: here 1 + 300 + 300 levels.
  auto shared = chain(300, 2);
  auto tail = chain(300, 302);
  tail.back() = {2};
  std::vector<std::vector<uint32_t>> arrays{{1, 302}, {2}};
  arrays.insert(arrays.end(), shared.begin(), shared.end());
  arrays.insert(arrays.end(), tail.begin(), tail.end());
  EXPECT_FALSE(PropertyList::parse(binaryArrays(arrays)));
  arrays.resize(302);
  arrays[0] = {1, 2};
  EXPECT_TRUE(PropertyList::parse(binaryArrays(arrays)));
  // A cycle, and a reference past the last object.
  EXPECT_FALSE(PropertyList::parse(binaryArrays({{1}, {0}})));
  EXPECT_FALSE(PropertyList::parse(binaryArrays({{1}, {7}})));
}

}  // namespace
}  // namespace zelto
