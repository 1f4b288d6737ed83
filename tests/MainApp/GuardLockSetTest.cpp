// The guard proxy's locks: which URLs they block. (Damaged files: GuardProxyEndToEndTest.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "MainApp/GuardLockSet.h"

namespace zelto::testing {
namespace {

using json = nlohmann::json;

const Date kNow = Date::fromSecondsSince1970(1'800'000'000);

json lockJson(std::vector<std::string> blocked, std::vector<std::string> allowed = {},
              bool allowList = false, double endsIn = 3600) {
  GuardLock lock;
  lock.end = kNow.addingTimeInterval(endsIn);
  lock.blockedSites = std::move(blocked);
  lock.allowedSites = std::move(allowed);
  lock.allowListMode = allowList;
  return lock.toJson();
}

TEST(GuardLockSetTest, AUrlIsBlockedWhenAnyRunningLockBlocksIt) {
  const json blockList = lockJson({"blocked.test", "+blocked.test/open"});
  const json allowList = lockJson({"ignored.test"}, {"work.test"}, true);
  const json ended = lockJson({"old.test"}, {}, false, -1);
  struct Row {
    const char* name;
    json locks;
    std::string url;
    bool blocked;
  };
  const std::vector<Row> rows = {
      {"no locks", json::array(), "http://blocked.test/", false},
      {"a blocked site", json::array({blockList}), "http://blocked.test/page", true},
      {"an allowing pattern in the list", json::array({blockList}), "http://blocked.test/open",
       false},
      {"a site not listed", json::array({blockList}), "http://other.test/", false},
      {"allow-list mode blocks the rest", json::array({allowList}), "http://other.test/", true},
      {"allow-list mode passes its site", json::array({allowList}), "https://work.test/", false},
      {"neither of two locks blocks", json::array({blockList, allowList}), "http://work.test/x",
       false},
      {"a lock blocks what another allows", json::array({blockList, allowList}),
       "http://blocked.test/open", true},
      {"an ended lock blocks nothing", json::array({ended}), "http://old.test/", false},
      {"the block page passes in allow-list mode", json::array({allowList}),
       "http://localhost:9999/block/?zelto_url=x", false},
  };
  for (const Row& row : rows) {
    Result<GuardLockSet> set = GuardLockSet::fromJson({{"locks", row.locks}});
    ASSERT_TRUE(set.ok()) << row.name << ": " << set.status().message();
    EXPECT_EQ(set->blocks(row.url, kNow), row.blocked) << row.name;
  }
  Result<GuardLockSet> set = GuardLockSet::fromJson({{"locks", {blockList, allowList, ended}}});
  ASSERT_TRUE(set.ok());
  EXPECT_THAT(set->blockedSites(kNow),
              ::testing::ElementsAre("blocked.test", "+blocked.test/open"));
  EXPECT_EQ(set->lastEnd(kNow), kNow.addingTimeInterval(3600));
  EXPECT_EQ(set->lastEnd(kNow.addingTimeInterval(3600)), std::nullopt);
}

}  // namespace
}  // namespace zelto::testing
