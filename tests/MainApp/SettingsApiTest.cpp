// The settings page's API on a controller over a private home: what each request answers, and
// that a command answers exactly what `zeltoctl ... --json` prints for it.
#include <gtest/gtest.h>

#include "MainApp/SettingsApi.h"
#include "Support/ChildProcess.h"
#include "Support/ControllerFixture.h"

namespace zelto {
namespace {

using json = nlohmann::json;

class SettingsApiTest : public testing::ControllerFixture {
 protected:
  SettingsApiTest() {
    env_.temp().write("icon.png", "PNG");
    env_.temp().write("big.svg", std::string(SettingsApi::kMaxIconBytes + 1, 'x'));
    reset({{"blockedWebsites", {"a.com"}}, {"schedules", json::array({weekdays("W", 9, 17)})}});
  }
  // The configuration with the default profile `profile`, and an API over it.
  void reset(const json& profile) {
    api_.reset();
    start(profile);
    api_ = std::make_unique<SettingsApi>(*controller_, [this] { return installed_; });
  }
  HttpAnswer ask(std::string_view method, std::string_view target, std::string_view body = "") {
    return api_->answer(method, target, body);
  }

  std::vector<InstalledApplication> installed_ = {
      {"Editor", "/e.desktop", env_.home() + "/icon.png"},
      {"Plain", "/p.desktop", std::nullopt},
      {"Huge", "/h.desktop", env_.home() + "/big.svg"}};
  std::unique_ptr<SettingsApi> api_;
};

struct Case {
  const char* method;
  std::string target;
  std::string body;
  int status;
  json expected;  // a part of the answer: each key given must match; a string under "error" is
                  // looked for in the error message
};

TEST_F(SettingsApiTest, RequestsAnswerWithStatusAndReport) {
  const std::vector<Case> cases = {
      {"GET", "/api/status", "", 200, {{"phase", "blocking"}, {"isScheduleBlocked", true}}},
      {"GET",
       "/api/check-url?url=https%3A%2F%2Fa.com%2Fx",
       "",
       200,
       {{"url", "https://a.com/x"}, {"blocked", true}, {"rank", 4}, {"pattern", "a.com"}}},
      {"GET", "/api/check-url?url=b.com", "", 200, {{"blocked", false}, {"rank", 5}}},
      {"GET", "/api/check-url", "", 400, {{"error", "\"url\" is missing"}}},
      {"GET", "/api/check-url?url=a.com&x=1", "", 400, {{"error", "\"x\""}}},
      {"GET",
       "/api/schedule?days=1",
       "",
       200,
       {{"from", "2026-12-09T12:00:00+01:00"},
        {"days", 1},
        {"periods",
         {{{"start", "2026-12-09T09:00:00+01:00"}, {"end", "2026-12-09T17:00:00+01:00"}},
          {{"start", "2026-12-10T09:00:00+01:00"}, {"end", "2026-12-10T17:00:00+01:00"}}}}}},
      {"GET", "/api/schedule?days=0", "", 400, {{"error", "\"days\""}}},
      {"GET", "/api/schedule?days=7x", "", 400, {{"error", "not \"7x\""}}},
      {"GET", "/api/nothing", "", 404, {{"error", "/api/nothing"}}},
      {"GET", "/api/\xff?url=%FF", "", 404, {{"error", "\"/api/\xef\xbf\xbd\""}}},
      {"GET", "/api/check-url?url=a.com&%FF%00=1", "", 400, {{"error", "Unknown parameter"}}},
      {"GET", "/api/stop", "", 405, {{"error", "POST"}}},
      {"DELETE", "/api/status", "", 405, {{"error", "DELETE"}}},
      {"POST",
       "/api/sites",
       R"({"action": "add", "patterns": ["b.com"]})",
       200,
       {{"added", {"b.com"}}, {"patterns", {"a.com", "b.com"}}}},
      {"POST",
       "/api/sites",
       R"({"action": "add", "patterns": ["/a(/"]})",
       400,
       {{"error", "not valid"}}},
      {"POST",
       "/api/sites",
       R"({"action": "add", "patterns": "b.com"})",
       400,
       {{"error", "\"patterns\" must be a list of strings, not string"}}},
      {"POST",
       "/api/sites",
       R"({"action": "add", "patterns": [1]})",
       400,
       {{"error", "it holds number"}}},
      {"POST",
       "/api/sites",
       R"({"action": "list", "on": true})",
       400,
       {{"error", "Unknown key \"on\""}}},
      {"POST", "/api/sites", R"({"action": "add"})", 400, {{"error", "at least one pattern"}}},
      {"POST", "/api/sites", R"({"action": "drop"})", 400, {{"error", "not \"drop\""}}},
      {"POST", "/api/sites", R"({"action": "allowlist"})", 400, {{"error", "\"on\" is missing"}}},
      {"POST", "/api/sites", "[1]", 400, {{"error", "not a JSON object but array"}}},
      {"POST", "/api/sites", "{\"action\":", 400, {{"error", "not JSON"}}},
      {"POST", "/api/sites", std::string(SettingsApi::kMaxBodyBytes + 1, ' '), 413, {}},
      {"POST", "/api/start", R"({"for": "25m", "until": "17:30"})", 400, {{"error", "not both"}}},
      {"POST", "/api/start", R"({"for": "soon"})", 400, {{"error", "--for"}}},
      {"POST", "/api/start", R"({"hardcore": "yes"})", 400, {{"error", "\"hardcore\""}}},
      {"POST",
       "/api/apps",
       R"({"action": "add", "paths": ["/bin/sh"], "hide": true, "quit": true})",
       400,
       {{"error", "At most one"}}},
      {"POST",
       "/api/apps",
       R"({"action": "remove", "paths": ["/nowhere"]})",
       409,
       {{"error", "/nowhere"}}},
      {"POST", "/api/schedules", R"({"action": "enable"})", 400, {{"error", "\"id\" is missing"}}},
      {"POST",
       "/api/schedules",
       R"({"action": "add", "days": "mon", "from": "9:00"})",
       400,
       {{"error", "\"to\" is missing"}}},
      {"POST", "/api/stop", "{}", 200, {{"stopped", true}, {"schedulesSwitchedOff", {"W"}}}},
      {"POST", "/api/schedules", R"({"action": "enable", "id": "W"})", 200, {{"changed", true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.target.substr(0, 80) + " " + c.body.substr(0, 80));
    HttpAnswer answer = ask(c.method, c.target, c.body);
    EXPECT_EQ(answer.status, c.status) << answer.body;
    EXPECT_EQ(answer.contentType, "application/json; charset=utf-8");
    json body = json::parse(answer.body, nullptr, false);
    ASSERT_TRUE(body.is_object()) << answer.body;
    for (const auto& [key, value] : c.expected.items()) {
      if (key == "error") {
        EXPECT_NE(body.value("error", "").find(value.get<std::string>()), std::string::npos)
            << answer.body;
      } else {
        EXPECT_EQ(body[key], value) << key;
      }
    }
  }
  // A list longer than the cap is refused whole.
  json many = {{"action", "add"}, {"patterns", json(std::vector<std::string>(10001, "x"))}};
  EXPECT_EQ(ask("POST", "/api/sites", many.dump()).status, 400);
  EXPECT_EQ(storedProfile()["blockedWebsites"], json({"a.com", "b.com"}));
}

TEST_F(SettingsApiTest, InstalledApplicationsAndTheirIcons) {
  EXPECT_EQ(ask("GET", "/api/icons/0").status, 404);  // no listing yet
  json listed = json::parse(ask("GET", "/api/installed-apps").body);
  EXPECT_EQ(listed["applications"][0],
            json({{"name", "Editor"}, {"path", "/e.desktop"}, {"icon", "/api/icons/0"}}));
  EXPECT_EQ(listed["applications"][1]["icon"], nullptr);
  HttpAnswer icon = ask("GET", "/api/icons/0");
  EXPECT_EQ(std::tuple(icon.status, icon.contentType, icon.body),
            std::tuple(200, "image/png", "PNG"));
  for (const char* bad : {"1", "2", "3", "-0", "0x", "", "99999999999999999999999"}) {
    EXPECT_EQ(ask("GET", std::string("/api/icons/") + bad).status, 404) << bad;
  }
}

// The same request through zeltoctl and through the API, each on the same configuration.
TEST_F(SettingsApiTest, CommandsAnswerWhatZeltoctlPrints) {
  struct Pair {
    std::vector<std::string> zeltoctl;
    const char* target;
    const char* body;
  };
  const std::vector<Pair> pairs = {
      {{"sites", "list"}, "/api/sites", R"({"action": "list"})"},
      {{"sites", "add", "b.com", "a.com"},
       "/api/sites",
       R"({"action": "add", "patterns": ["b.com", "a.com"]})"},
      {{"sites", "remove", "--allow", "a.com"},
       "/api/sites",
       R"({"action": "remove", "allow": true, "patterns": ["a.com"]})"},
      {{"allow-list", "on"}, "/api/sites", R"({"action": "allowlist", "on": true})"},
      {{"apps", "add", "/bin/sh", "--force-quit", "--no-reopen"},
       "/api/apps",
       R"({"action": "add", "paths": ["/bin/sh"], "forceQuit": true, "reopen": false})"},
      {{"apps", "list"}, "/api/apps", R"({"action": "list"})"},
      {{"schedules", "add", "--days", "someday", "--from", "09:00", "--to", "10:00"},
       "/api/schedules",
       R"({"action": "add", "days": "someday", "from": "09:00", "to": "10:00"})"},
      {{"schedules", "remove", "nope"}, "/api/schedules", R"({"action": "remove", "id": "nope"})"},
      {{"unbreak"}, "/api/unbreak", "{}"},
      {{"start", "--for", "1x"}, "/api/start", R"({"for": "1x"})"},
  };
  const json profile = {{"blockedWebsites", {"a.com"}}};
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(pair.target + std::string(" ") + pair.body);
    reset(profile);
    std::vector<std::string> arguments = pair.zeltoctl;
    arguments.push_back("--json");
    auto [code, printed] = testing::runToEnd(
        std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/zeltoctl",
        {{"HOME", env_.home()}, {"XDG_DATA_HOME", std::nullopt}, {"XDG_CONFIG_HOME", std::nullopt}},
        env_.home(), arguments);
    reset(profile);
    HttpAnswer answer = ask("POST", pair.target, pair.body);
    EXPECT_EQ(json::parse(answer.body), json::parse(printed, nullptr, false)) << printed;
    EXPECT_EQ(answer.status, code == 0 ? 200 : code == 1 ? 409 : 400) << printed;
  }
}

}  // namespace
}  // namespace zelto
