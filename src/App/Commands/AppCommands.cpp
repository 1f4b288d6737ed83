#include "App/Commands/AppCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <memory>

#include "App/Blocking/BlockedExecutables.h"
#include "App/Commands/ApplicationPath.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/LockRefusal.h"
#include "App/Controller/ChangePolicy.h"
#include "Platform/Env.h"
#include "Platform/ProcessInfo.h"

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

}  // namespace zelto
