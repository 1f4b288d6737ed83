#include "Tools/zeltoctl/AppCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "App/Blocking/BlockedExecutables.h"
#include "App/Controller/ChangePolicy.h"
#include "Platform/Env.h"
#include "Platform/ProcessInfo.h"
#include "Tools/zeltoctl/ApplicationPath.h"
#include "Tools/zeltoctl/BlockState.h"
#include "Tools/zeltoctl/LockRefusal.h"

namespace zelto {

namespace {

using json = nlohmann::json;
using Kind = ChangePolicy::Change::Kind;

constexpr const char* kHide = "shouldHideInsteadOfQuit";
constexpr const char* kForceQuit = "shouldAlwaysForceQuit";
constexpr const char* kReopen = "shouldReopenWhenUnzeltoing";
constexpr const char* kSoftQuit = "performOnlySoftKillThenLeaveOpen";

std::string inQuotes(const std::string& text) { return json(text).dump(); }

bool flag(const json& entry, const char* key) {
  auto found = entry.find(key);
  return found != entry.end() && found->is_boolean() && found->get<bool>();
}

// The entry for `path` in `list`, or nothing. Entries that are no objects with a text "path"
// (a hand-edited file) are left alone.
json* entryFor(json& list, const std::string& path) {
  for (json& entry : list) {
    if (entry.is_object() && entry.contains("path") && entry["path"].is_string() &&
        entry["path"].get_ref<const std::string&>() == path) {
      return &entry;
    }
  }
  return nullptr;
}

// The three ways of ending an application exclude each other: the one asked for is switched
// on and the other two off, so an entry never asks for two at once.
json withFlags(json entry, const AppCommands::Options& options) {
  if (options.quit || options.hide || options.forceQuit || options.softQuit) {
    entry[kHide] = options.hide;
    entry[kForceQuit] = options.forceQuit;
    entry[kSoftQuit] = options.softQuit;
  }
  if (options.reopen) entry[kReopen] = *options.reopen;
  return entry;
}

// The applications as a report and as text: one a line, its path and how it is blocked.
CommandOutcome listOutcome(const json& list, json report = json::object(), std::string text = "") {
  json applications = json::array();
  std::string lines;
  if (list.is_array()) {
    for (const json& entry : list) {
      if (!entry.is_object() || !entry.contains("path") || !entry["path"].is_string()) continue;
      applications.push_back(entry);
      std::string how = flag(entry, kHide)        ? "hide"
                        : flag(entry, kSoftQuit)  ? "soft-quit"
                        : flag(entry, kForceQuit) ? "force-quit"
                                                  : "quit";
      if (flag(entry, kReopen)) how += ", reopen";
      lines += entry["path"].get<std::string>() + ": " + how + "\n";
    }
  }
  report["applications"] = applications;
  text += "Blocked applications:\n" + (lines.empty() ? std::string("(none)\n") : lines);
  return CommandOutcome::done(std::move(report), std::move(text));
}

// The arguments made absolute, without repeats; exit 2 naming the first that can't be.
Result<std::vector<std::string>> absolutePaths(const AppCommands::Options& options) {
  std::vector<std::string> out;
  for (const std::string& given : options.paths) {
    Result<std::string> path = ApplicationPath::absolute(given, options.workingDirectory);
    if (!path.ok()) return path.status();
    if (std::find(out.begin(), out.end(), *path) == out.end()) out.push_back(*path);
  }
  return out;
}

Status saveApplications(Zelto& zelto, ProfileZeltoPreferences& profile, const json& before) {
  Status saved = zelto.save();
  if (!saved.ok()) profile.blockedApplications = before;
  return saved;
}

}  // namespace

CommandOutcome AppCommands::list(Zelto& zelto, const Options& /*options*/) {
  return listOutcome(zelto.prefs()->defaultProfile()->blockedApplications);
}

CommandOutcome AppCommands::add(Zelto& zelto, const Options& options) {
  Result<std::vector<std::string>> paths = absolutePaths(options);
  if (!paths.ok()) return CommandOutcome::usage(paths.status().message());
  for (const std::string& path : *paths) {
    if (Status found = BlockedExecutables::checkEntry(path, Env::fileSystem()); !found.ok()) {
      return CommandOutcome::usage(
          fmt::format("{} can't be blocked: {}", inQuotes(path), found.message()));
    }
    // Resolved as the application resolves it: an entry that gives it no program to end would
    // be listed and never enforced.
    const BlockedExecutables::Resolved resolved = BlockedExecutables::resolve(
        path, Env::fileSystem(), ProcessInfo::environmentValue("PATH").value_or(""));
    if (resolved.executables.empty()) {
      std::string reasons;
      for (const std::string& problem : resolved.problems) {
        reasons += (reasons.empty() ? "" : "; ") + problem;
      }
      return CommandOutcome::refused(
          fmt::format("{} can't be blocked: {}. Name the program itself (its executable file, or "
                      "the script that starts it) instead",
                      inQuotes(path), reasons));
    }
  }
  ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
  json& list = profile.blockedApplications;
  if (!list.is_array()) {
    return CommandOutcome::refused(
        "the blocked applications in the configuration are not a list; mend the file first");
  }

  const BlockState state = BlockState::observe(zelto);
  json changed = list;
  json added = json::array(), updated = json::array(), already = json::array();
  std::string text;
  for (const std::string& path : *paths) {
    if (json* entry = entryFor(changed, path)) {
      json wanted = withFlags(*entry, options);
      if (wanted == *entry) {
        already.push_back(path);
        text += fmt::format("{} is already blocked.\n", inQuotes(path));
        continue;
      }
      if (!ChangePolicy::decide(zelto, state, {.kind = Kind::kChangeApplication, .subject = path})
               .allowed()) {
        return LockRefusal::refuse(zelto, state,
                                   fmt::format("Changing how {} is blocked", inQuotes(path)));
      }
      *entry = std::move(wanted);
      updated.push_back(path);
      text += fmt::format("Changed how {} is blocked.\n", inQuotes(path));
      continue;
    }
    changed.push_back(withFlags(
        {{"path", path}, {kHide, false}, {kForceQuit, false}, {kReopen, true}, {kSoftQuit, false}},
        options));
    added.push_back(path);
    text += fmt::format("Added {} to the blocked applications.\n", inQuotes(path));
  }
  if (!added.empty() || !updated.empty()) {
    const json before = list;
    list = std::move(changed);
    if (Status saved = saveApplications(zelto, profile, before); !saved.ok()) {
      return CommandOutcome::refused(saved.message());
    }
  }
  return listOutcome(list, {{"added", added}, {"updated", updated}, {"alreadyListed", already}},
                     std::move(text));
}

CommandOutcome AppCommands::remove(Zelto& zelto, const Options& options) {
  Result<std::vector<std::string>> paths = absolutePaths(options);
  if (!paths.ok()) return CommandOutcome::usage(paths.status().message());
  ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
  json& list = profile.blockedApplications;
  for (const std::string& path : *paths) {
    if (!list.is_array() || entryFor(list, path) == nullptr) {
      return CommandOutcome::refused(
          fmt::format("{} is not among the blocked applications", inQuotes(path)));
    }
  }
  const BlockState state = BlockState::observe(zelto);
  if (!ChangePolicy::decide(zelto, state,
                            {.kind = Kind::kRemoveApplication, .subject = paths->front()})
           .allowed()) {
    return LockRefusal::refuse(
        zelto, state,
        fmt::format("Removing {} from the blocked applications", inQuotes(paths->front())));
  }
  const json before = list;
  std::string text;
  for (const std::string& path : *paths) {
    list.erase(std::find(list.begin(), list.end(), *entryFor(list, path)));
    text += fmt::format("Removed {} from the blocked applications.\n", inQuotes(path));
  }
  if (Status saved = saveApplications(zelto, profile, before); !saved.ok()) {
    return CommandOutcome::refused(saved.message());
  }
  return listOutcome(list, {{"removed", *paths}}, std::move(text));
}

void AppCommands::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto options = std::make_shared<Options>();
  auto asJson = std::make_shared<bool>(false);
  auto reopen = std::make_shared<bool>(false);
  auto noReopen = std::make_shared<bool>(false);
  CLI::App* apps = app.add_subcommand(
      "apps", "List or edit the applications that are made to quit while blocking is on");
  apps->require_subcommand(1);
  using Function = CommandOutcome (*)(Zelto&, const Options&);
  auto choose = [&chosen, options, asJson, reopen, noReopen](Function function, bool edits) {
    chosen = [options, asJson, reopen, noReopen, function, edits] {
      if (*reopen || *noReopen) options->reopen = *reopen;
      options->workingDirectory = ProcessInfo::currentDirectory().value_or("");
      auto command = [options, function](Zelto& zelto) { return function(zelto, *options); };
      return edits ? CommandRunner::edit(*asJson, command) : CommandRunner::read(*asJson, command);
    };
  };

  CLI::App* list = apps->add_subcommand(
      "list",
      "One application a line: its path and how it is blocked (hide, force-quit,\n"
      "soft-quit or quit; reopen: started again when blocking ends)");
  list->add_flag("--json", *asJson, "One JSON object, for programs");
  list->callback([choose] { choose(&AppCommands::list, false); });

  CLI::App* add = apps->add_subcommand(
      "add",
      "Block applications, e.g. zeltoctl apps add /usr/bin/firefox --force-quit\n"
      "A path already listed gets the flags given. Without flags a new application is made to\n"
      "quit, and reopened when blocking ends.");
  add->add_option("PATH", options->paths,
                  "An executable, a .desktop file or an application bundle directory")
      ->required();
  CLI::Option* quit = add->add_flag(
      "--quit", options->quit, "Ask it to quit, and force it if it doesn't (the default when new)");
  CLI::Option* hide =
      add->add_flag("--hide", options->hide, "Hide it (stop it, frozen) instead of quitting it");
  CLI::Option* force = add->add_flag("--force-quit", options->forceQuit, "Always force it to quit");
  CLI::Option* soft = add->add_flag("--soft-quit", options->softQuit,
                                    "Only ask it to quit, and leave it open if it doesn't");
  quit->excludes(hide)->excludes(force)->excludes(soft);
  hide->excludes(force)->excludes(soft);
  force->excludes(soft);
  CLI::Option* yes = add->add_flag("--reopen", *reopen, "Start it again when blocking ends");
  CLI::Option* no = add->add_flag("--no-reopen", *noReopen, "Don't start it again");
  yes->excludes(no);
  add->add_flag("--json", *asJson, "One JSON object, for programs");
  add->callback([choose] { choose(&AppCommands::add, true); });

  CLI::App* remove = apps->add_subcommand(
      "remove", "Stop blocking applications, e.g. zeltoctl apps remove /usr/bin/firefox");
  remove->add_option("PATH", options->paths, "The paths as listed (or relative to here)")
      ->required();
  remove->add_flag("--json", *asJson, "One JSON object, for programs");
  remove->callback([choose] { choose(&AppCommands::remove, true); });
}

}  // namespace zelto
