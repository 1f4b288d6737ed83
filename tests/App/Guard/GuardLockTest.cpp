// The lock the system guard holds: read strictly from what a client sends, and only ever made
// firmer.
#include <gtest/gtest.h>

#include "App/Guard/GuardLock.h"
#include "App/Guard/GuardRequest.h"
#include "Support/NestedText.h"

namespace zelto {
namespace {

using json = nlohmann::json;

json lockJson() {
  return {{"end", "2026-12-08T12:00:00.000Z"},
          {"blockedSites", {"a.com", "*.b.com"}},
          {"allowedSites", {"docs.a.com"}},
          {"allowListMode", false},
          {"programs", {{{"path", "/usr/bin/game"}, {"shouldAlwaysForceQuit", true}}}},
          {"proxyPort", 8920}};
}

TEST(GuardLockTest, ReadsWhatItWritesAndRefusesAnythingElseNamingTheKey) {
  auto read = GuardLock::fromJson(lockJson());
  ASSERT_TRUE(read.ok()) << read.status().message();
  EXPECT_EQ(read->toJson(), lockJson());
  EXPECT_EQ(GuardLock::fromJson(read->toJson()).value(), *read);

  struct Case {
    const char* what;
    json change;  // merged into a good lock (a JSON merge patch: null removes the key)
    std::string error;
  };
  const Case cases[] = {
      {"no end", {{"end", nullptr}}, "\"end\" is missing"},
      {"end no time", {{"end", "tomorrow"}}, "\"end\" is not a time"},
      {"end a number", {{"end", 5}}, "\"end\" is not a time"},
      {"sites no list", {{"blockedSites", "a.com"}}, "\"blockedSites\" is not a list"},
      {"site no text", {{"allowedSites", {1}}}, "\"allowedSites\" holds something other"},
      {"site too long", {{"blockedSites", {std::string(5000, 'a')}}}, "too long"},
      {"mode no flag", {{"allowListMode", 1}}, "\"allowListMode\" is not true or false"},
      {"relative program", {{"programs", {{{"path", "game"}}}}}, "without an absolute path"},
      {"program no object", {{"programs", {"/bin/x"}}}, "other than an entry"},
      {"program flag", {{"programs", {{{"path", "/x"}, {"hide", "yes"}}}}}, "\"hide\" is not"},
      {"port too big", {{"proxyPort", 70000}}, "\"proxyPort\" is not a port number"},
      {"port negative", {{"proxyPort", -1}}, "\"proxyPort\" is not a port number"},
      {"unknown key", {{"until", 1}}, "unknown key \"until\""},
  };
  for (const Case& c : cases) {
    json text = lockJson();
    text.merge_patch(c.change);
    auto refused = GuardLock::fromJson(text);
    ASSERT_FALSE(refused.ok()) << c.what;
    EXPECT_NE(refused.status().message().find(c.error), std::string::npos)
        << c.what << ": " << refused.status().message();
  }
  EXPECT_FALSE(GuardLock::fromJson(json::array()).ok());
  json many = lockJson();
  many["blockedSites"] = std::vector<std::string>(GuardLock::kMaxSites + 1, "a.com");
  EXPECT_FALSE(GuardLock::fromJson(many).ok());
}

TEST(GuardLockTest, AnOfferMayOnlyTightenTheHeldLock) {
  const GuardLock held = GuardLock::fromJson(lockJson()).value();
  struct Case {
    const char* what;
    std::function<void(GuardLock&)> change;
    std::string refusal;  // the start of the reason; empty: taken
  };
  const Case cases[] = {
      {"the same", [](GuardLock&) {}, ""},
      {"a later end", [](GuardLock& l) { l.end = l.end.addingTimeInterval(60); }, ""},
      {"more blocked sites", [](GuardLock& l) { l.blockedSites.push_back("c.com"); }, ""},
      {"fewer allowed sites", [](GuardLock& l) { l.allowedSites.clear(); }, ""},
      {"another program",
       [](GuardLock& l) {
         l.programs.push_back({{"path", "/bin/b"}});
       },
       ""},
      {"another port", [](GuardLock& l) { l.proxyPort = 9000; }, "another proxy port"},
      {"an earlier end", [](GuardLock& l) { l.end = l.end.addingTimeInterval(-1); },
       "an earlier end"},
      {"a site dropped", [](GuardLock& l) { l.blockedSites.pop_back(); }, "\"*.b.com\" dropped"},
      {"a site allowed", [](GuardLock& l) { l.allowedSites.push_back("c.com"); },
       "\"c.com\" added"},
      {"an allowing pattern", [](GuardLock& l) { l.blockedSites.push_back("+a.com/x"); },
       "\"+a.com/x\" added"},
      {"allow-list mode", [](GuardLock& l) { l.allowListMode = true; }, "allow-list mode switched"},
      {"a program dropped", [](GuardLock& l) { l.programs = json::array(); },
       "\"/usr/bin/game\" no longer ended"},
      {"a program ended another way",
       [](GuardLock& l) { l.programs[0]["shouldAlwaysForceQuit"] = false; },
       "\"/usr/bin/game\" ended another way"},
  };
  for (const Case& c : cases) {
    GuardLock offered = held;
    c.change(offered);
    const std::string reason = held.loosenedBy(offered);
    if (c.refusal.empty()) {
      EXPECT_EQ(reason, "") << c.what;
    } else {
      EXPECT_TRUE(reason.starts_with(c.refusal + ": ")) << c.what << ": " << reason;
      EXPECT_NE(reason.find("locked until 2026-12-08T12:00:00.000Z"), std::string::npos);
    }
  }
  GuardLock portless = held;
  portless.proxyPort = 0;
  GuardLock withPort = portless;
  withPort.proxyPort = 9000;
  EXPECT_EQ(portless.loosenedBy(withPort), "");
}

TEST(GuardLockTest, RequestsAreReadStrictly) {
  const std::string lock = lockJson().dump();
  auto taken = GuardRequest::parse(R"({"request": "lock", "lock": )" + lock + "}");
  ASSERT_TRUE(taken.ok()) << taken.status().message();
  EXPECT_EQ(taken->kind, GuardRequest::Kind::kLock);
  EXPECT_EQ(GuardRequest::parse(R"({"request": "release", "uid": 1000})")->uid, 1000u);
  EXPECT_EQ(GuardRequest::parse(R"({"request": "status"})")->kind, GuardRequest::Kind::kStatus);

  const std::pair<std::string, std::string> refused[] = {
      {"", "not JSON"},
      {"{\"request\": \"status\"", "not JSON"},
      {testing::nested("[", "]", 100), "nesting deeper than 8 levels"},
      {"[]", "names no \"request\""},
      {R"({"request": 1})", "names no \"request\""},
      {R"({"request": "shell", "command": "rm"})", "Unknown request \"shell\""},
      {R"({"request": "status", "lock": {}})", "Unknown key \"lock\" in a status request"},
      {R"({"request": "lock", "uid": 0})", "Unknown key \"uid\""},
      {R"({"request": "lock"})", "carries no \"lock\""},
      {R"({"request": "lock", "lock": {"end": "soon"}})", "The lock can't be used: \"end\""},
      {R"({"request": "release", "uid": -1})", "\"uid\" is not a user ID"},
      {R"({"request": "release", "uid": 4294967295})", "\"uid\" is not a user ID"},
  };
  for (const auto& [text, error] : refused) {
    auto parsed = GuardRequest::parse(text);
    ASSERT_FALSE(parsed.ok()) << text;
    EXPECT_NE(parsed.status().message().find(error), std::string::npos)
        << text << ": " << parsed.status().message();
  }
}

}  // namespace
}  // namespace zelto
