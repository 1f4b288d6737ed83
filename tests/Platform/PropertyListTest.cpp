#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Platform/PropertyList.h"

namespace zelto {
namespace {

using ::testing::HasSubstr;
using json = nlohmann::json;

TEST(PropertyListTest, RoundTripsNestedValuesThroughXML) {
  json value = {
      {"enabled", true},
      {"offset", -42},
      {"smallest", INT64_MIN},
      {"ratio", -2.5},
      {"name", "Grüße <&> \"日本\" 🎉"},
      {"nested", {{"list", json::array({1, "two", json::array(), json::object()})}}},
  };
  auto xml = PropertyList::toXML(value);
  ASSERT_TRUE(xml.has_value());
  EXPECT_EQ(PropertyList::parse(*xml), value) << *xml;
  // Other readers expect a negative integer written with its sign.
  EXPECT_THAT(*xml, HasSubstr("<integer>-42</integer>"));
}

}  // namespace
}  // namespace zelto
