#include "MainApp/SettingsApi.h"

#include <fmt/format.h>

#include <charconv>
#include <map>
#include <utility>

#include "App/Commands/AppCommands.h"
#include "App/Commands/BlockCommands.h"
#include "App/Commands/CommandSession.h"
#include "App/Commands/GuardCommands.h"
#include "App/Commands/ScheduleCommands.h"
#include "App/Commands/SiteCommands.h"
#include "App/Commands/StatusReport.h"
#include "App/Commands/UrlCheck.h"
#include "MainApp/ApiBody.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"
#include "Platform/Url.h"

namespace zelto {

namespace {

using json = nlohmann::json;

// The longest address check-url decides: more than any browser sends.
constexpr size_t kMaxCheckedUrlBytes = 16 * 1024;

// `text` in double quotes, as JSON writes it; bytes that are not UTF-8 (a request may hold any)
// shown as U+FFFD.
std::string inQuotes(std::string_view text) {
  return json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

HttpAnswer jsonAnswer(int status, const json& body) {
  return {status, "application/json; charset=utf-8",
          body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

HttpAnswer error(int status, const std::string& message) {
  return jsonAnswer(status, {{"error", message}});
}

// A command's outcome: its report, with the status its exit status stands for.
HttpAnswer outcomeAnswer(const CommandOutcome& outcome) {
  const int status = outcome.exitCode == CommandOutcome::kDone      ? 200
                     : outcome.exitCode == CommandOutcome::kRefused ? 409
                                                                    : 400;
  return jsonAnswer(status, outcome.report);
}

// Runs `look` on a controller made afresh, answering for `now`, as zeltoctl's status, schedule
// and check-url do. False, with `failure` set, when the configuration can't be loaded (the
// reason is in the application's log: its other threads log too, so nothing is kept back).
bool lookAt(Date now, std::string& failure, const std::function<void(Zelto&)>& look) {
  Status looked = CommandSession::look(now, true, look, CommandSession::Log::kAsUsual);
  if (!looked.ok()) failure = looked.message();
  return looked.ok();
}

// The action a family's body names, one of `actions`; empty (with `problem` set) for another.
std::string actionOf(ApiBody& body, std::initializer_list<const char*> actions,
                     std::string& problem) {
  std::optional<std::string> action = body.text("action");
  if (!action) {
    problem = body.problem().value_or("\"action\" is missing");
    return "";
  }
  for (const char* known : actions) {
    if (*action == known) return *action;
  }
  std::string names;
  for (const char* known : actions) names += std::string(names.empty() ? "" : ", ") + known;
  problem = fmt::format("\"action\" must be one of {}, not {}", names, inQuotes(*action));
  return "";
}

constexpr CommandSession::Log kLog = CommandSession::Log::kAsUsual;

HttpAnswer edit(const CommandSession::Command& command) {
  return outcomeAnswer(CommandSession::edit(command, kLog));
}

HttpAnswer read(const CommandSession::Command& command) {
  return outcomeAnswer(CommandSession::read(command, kLog));
}

}  // namespace

SettingsApi::SettingsApi(Zelto& live, std::function<std::vector<InstalledApplication>()> installed)
    : live_(live), installed_(std::move(installed)) {}

json SettingsApi::status() {
  const Date now = live_.now();
  json out;
  std::string failure;
  if (!lookAt(now, failure, [&](Zelto& zelto) { out = StatusReport::status(zelto, now); })) {
    return {{"error", failure}};
  }
  return out;
}

HttpAnswer SettingsApi::answer(std::string_view method, std::string_view target,
                               std::string_view body) {
  const size_t mark = target.find('?');
  const std::string path(target.substr(0, mark));
  const std::string_view query = mark == std::string_view::npos ? "" : target.substr(mark + 1);
  if (method == "GET") return get(path, query);
  if (method != "POST") return error(405, fmt::format("{} is not answered here", inQuotes(method)));
  if (body.size() > kMaxBodyBytes) {
    return error(413, fmt::format("The body is larger than {} bytes", kMaxBodyBytes));
  }
  auto parsed = ApiBody::parse(body);
  if (!parsed) return error(400, parsed.status().message());
  return post(path, *parsed);
}

HttpAnswer SettingsApi::get(const std::string& path, std::string_view query) {
  const std::map<std::string, std::string> parameters = Url::queryParameters(query);
  auto unknownParameter =
      [&](std::initializer_list<const char*> known) -> std::optional<HttpAnswer> {
    for (const auto& [key, value] : parameters) {
      if (std::find_if(known.begin(), known.end(), [&](const char* k) { return key == k; }) ==
          known.end()) {
        return error(400, fmt::format("Unknown parameter {}", inQuotes(key)));
      }
    }
    return std::nullopt;
  };
  if (path == "/api/status") {
    if (auto bad = unknownParameter({})) return *bad;
    json report = status();
    return jsonAnswer(report.contains("error") ? 409 : 200, report);
  }
  if (path == "/api/guard") {
    if (auto bad = unknownParameter({})) return *bad;
    return read(GuardCommands::status);
  }
  if (path == "/api/check-url") {
    if (auto bad = unknownParameter({"url"})) return *bad;
    auto url = parameters.find("url");
    if (url == parameters.end() || url->second.empty()) {
      return error(400, "\"url\" is missing: /api/check-url?url=ADDRESS");
    }
    if (url->second.size() > kMaxCheckedUrlBytes) {
      return error(400, fmt::format("\"url\" is longer than {} bytes", kMaxCheckedUrlBytes));
    }
    json decided;
    std::string failure;
    if (!lookAt(live_.now(), failure,
                [&](Zelto& zelto) { decided = UrlCheck::explain(zelto, url->second); })) {
      return error(409, failure);
    }
    return jsonAnswer(200, decided);
  }
  if (path == "/api/schedule") {
    if (auto bad = unknownParameter({"days"})) return *bad;
    int days = 7;
    if (auto given = parameters.find("days"); given != parameters.end()) {
      const std::string& text = given->second;
      const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), days);
      if (failed != std::errc() || end != text.data() + text.size() || days < 1 || days > 366) {
        return error(400, fmt::format("\"days\" must be a whole number from 1 to 366, not {}",
                                      inQuotes(text)));
      }
    }
    const Date now = live_.now();
    json periods;
    std::string failure;
    if (!lookAt(now, failure,
                [&](Zelto& zelto) { periods = StatusReport::scheduleJson(zelto, now, days); })) {
      return error(409, failure);
    }
    return jsonAnswer(200, periods);
  }
  if (path == "/api/installed-apps") {
    if (auto bad = unknownParameter({})) return *bad;
    return installedApplications();
  }
  if (path.starts_with("/api/icons/")) return icon(path.substr(std::string("/api/icons/").size()));
  if (path == "/api/start" || path == "/api/stop" || path == "/api/break" ||
      path == "/api/unbreak" || path == "/api/sites" || path == "/api/apps" ||
      path == "/api/schedules") {
    return error(405, fmt::format("{} takes POST", path));
  }
  return error(404, fmt::format("No such API: {}", inQuotes(path)));
}

HttpAnswer SettingsApi::post(const std::string& path, ApiBody& body) {
  std::string problem;
  auto bad = [&]() -> std::optional<HttpAnswer> {
    if (problem.empty()) problem = body.problem().value_or("");
    if (problem.empty()) return std::nullopt;
    return error(400, problem);
  };

  if (path == "/api/start") {
    BlockCommands::StartOptions options;
    std::optional<std::string> forText = body.text("for");
    std::optional<std::string> untilText = body.text("until");
    options.hardcore = body.flag("hardcore").value_or(false);
    options.mustComplete = body.flag("mustComplete").value_or(false);
    if (forText && untilText) problem = "Give \"for\" or \"until\", not both";
    if (auto answer = bad()) return *answer;
    options.forText = forText.value_or("");
    options.untilText = untilText.value_or("");
    return edit([&](Zelto& zelto) { return BlockCommands::start(zelto, options); });
  }
  if (path == "/api/stop" || path == "/api/unbreak") {
    if (auto answer = bad()) return *answer;
    return edit(path == "/api/stop" ? BlockCommands::stop : BlockCommands::unbreak);
  }
  if (path == "/api/break") {
    BlockCommands::BreakOptions options{body.text("for").value_or("")};
    if (auto answer = bad()) return *answer;
    return edit([&](Zelto& zelto) { return BlockCommands::takeBreak(zelto, options); });
  }
  if (path == "/api/sites") {
    const std::string action = actionOf(body, {"list", "add", "remove", "allowlist"}, problem);
    if (action == "allowlist") {
      std::optional<bool> on = body.flag("on");
      if (!on && body.problem() == std::nullopt) problem = "\"on\" is missing: true or false";
      if (auto answer = bad()) return *answer;
      return edit([&](Zelto& zelto) { return SiteCommands::setAllowList(zelto, *on); });
    }
    SiteCommands::Options options;
    options.allow = body.flag("allow").value_or(false);
    if (action == "add" || action == "remove") {
      options.patterns = body.texts("patterns").value_or(std::vector<std::string>{});
      if (options.patterns.empty() && body.problem() == std::nullopt && problem.empty()) {
        problem = "\"patterns\" is missing or empty: give at least one pattern";
      }
    }
    if (auto answer = bad()) return *answer;
    if (action == "list") {
      return read([&](Zelto& zelto) { return SiteCommands::list(zelto, options); });
    }
    return edit([&](Zelto& zelto) {
      return action == "add" ? SiteCommands::add(zelto, options)
                             : SiteCommands::remove(zelto, options);
    });
  }
  if (path == "/api/apps") {
    const std::string action = actionOf(body, {"list", "add", "remove"}, problem);
    AppCommands::Options options;
    if (action == "add" || action == "remove") {
      options.paths = body.texts("paths").value_or(std::vector<std::string>{});
      if (options.paths.empty() && body.problem() == std::nullopt && problem.empty()) {
        problem = "\"paths\" is missing or empty: give at least one path";
      }
    }
    if (action == "add") {
      options.quit = body.flag("quit").value_or(false);
      options.hide = body.flag("hide").value_or(false);
      options.forceQuit = body.flag("forceQuit").value_or(false);
      options.softQuit = body.flag("softQuit").value_or(false);
      options.reopen = body.flag("reopen");
      if (int{options.quit} + options.hide + options.forceQuit + options.softQuit > 1 &&
          problem.empty()) {
        problem = "At most one of \"quit\", \"hide\", \"forceQuit\" and \"softQuit\"";
      }
    }
    if (auto answer = bad()) return *answer;
    if (action == "list") {
      return read([&](Zelto& zelto) { return AppCommands::list(zelto, options); });
    }
    return edit([&](Zelto& zelto) {
      return action == "add" ? AppCommands::add(zelto, options)
                             : AppCommands::remove(zelto, options);
    });
  }
  if (path == "/api/schedules") {
    const std::string action =
        actionOf(body, {"list", "add", "remove", "enable", "disable"}, problem);
    if (action == "list") {
      if (auto answer = bad()) return *answer;
      return read(ScheduleCommands::list);
    }
    if (action == "add") {
      ScheduleCommands::AddOptions options;
      for (auto [key, field] : {std::pair("days", &options.days), std::pair("from", &options.from),
                                std::pair("to", &options.to)}) {
        std::optional<std::string> value = body.text(key);
        if (!value && problem.empty() && body.problem() == std::nullopt) {
          problem = fmt::format("\"{}\" is missing", key);
        }
        *field = value.value_or("");
      }
      options.zone = body.text("zone").value_or("");
      if (auto answer = bad()) return *answer;
      return edit([&](Zelto& zelto) { return ScheduleCommands::add(zelto, options); });
    }
    std::optional<std::string> id = body.text("id");
    if (!id && problem.empty() && body.problem() == std::nullopt) problem = "\"id\" is missing";
    if (auto answer = bad()) return *answer;
    const ScheduleCommands::Change what = action == "remove"   ? ScheduleCommands::Change::kRemove
                                          : action == "enable" ? ScheduleCommands::Change::kEnable
                                                               : ScheduleCommands::Change::kDisable;
    return edit([&](Zelto& zelto) { return ScheduleCommands::change(zelto, *id, what); });
  }
  if (path == "/api/status" || path == "/api/guard" || path == "/api/check-url" ||
      path == "/api/schedule" || path == "/api/installed-apps") {
    return error(405, fmt::format("{} takes GET", path));
  }
  return error(404, fmt::format("No such API: {}", inQuotes(path)));
}

HttpAnswer SettingsApi::installedApplications() {
  std::vector<InstalledApplication> listed =
      installed_ ? installed_() : std::vector<InstalledApplication>{};
  iconFiles_.clear();
  json applications = json::array();
  for (InstalledApplication& application : listed) {
    json icon = nullptr;
    if (application.iconFile) icon = fmt::format("/api/icons/{}", iconFiles_.size());
    applications.push_back(
        {{"name", application.name}, {"path", application.path}, {"icon", icon}});
    iconFiles_.push_back(std::move(application.iconFile));
  }
  return jsonAnswer(200, {{"applications", std::move(applications)}});
}

HttpAnswer SettingsApi::icon(const std::string& number) {
  size_t index = 0;
  const auto [end, failed] = std::from_chars(number.data(), number.data() + number.size(), index);
  if (failed != std::errc() || end != number.data() + number.size() || number.empty() ||
      index >= iconFiles_.size() || !iconFiles_[index]) {
    return error(404, fmt::format("No icon {}", inQuotes(number)));
  }
  const std::string& file = *iconFiles_[index];
  const char* type = file.ends_with(".png")   ? "image/png"
                     : file.ends_with(".svg") ? "image/svg+xml"
                                              : nullptr;
  if (type == nullptr) return error(404, fmt::format("No icon {}", inQuotes(number)));
  auto bytes = Env::fileSystem().readFile(file, kMaxIconBytes);
  if (!bytes) {
    log::warning("The icon {} can't be served: {}", file, bytes.status().message());
    return error(404, fmt::format("No icon {}", inQuotes(number)));
  }
  return {200, type, std::move(*bytes)};
}

}  // namespace zelto
