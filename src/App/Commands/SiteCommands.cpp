#include "App/Commands/SiteCommands.h"

#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "App/Blocking/Helpers/ZeltoURLMatcher.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Commands/BlockState.h"
#include "App/Commands/LockRefusal.h"
#include "App/Controller/ChangePolicy.h"
#include "Platform/Env.h"

namespace zelto {

namespace {

using json = nlohmann::json;

std::string listTitle(bool allow) { return allow ? "the allow list" : "the blocked sites"; }

json& storedList(ProfileZeltoPreferences& profile, bool allow) {
  return allow ? profile.whitelistedWebsites : profile.blockedWebsites;
}

bool isListed(const json& list, const std::string& pattern) {
  return std::any_of(list.begin(), list.end(), [&](const json& entry) {
    return entry.is_string() && entry.get_ref<const std::string&>() == pattern;
  });
}

using Kind = ChangePolicy::Change::Kind;

// The list as a report and as text: a line telling what is in force, then one pattern a line
// (the text entries of the stored list). With `textOnly` the report leaves the patterns out:
// a list of tens of thousands is not copied for nobody.
CommandOutcome listOutcome(ProfileZeltoPreferences& profile, bool allow, json report = {},
                           std::string text = "", bool textOnly = false) {
  static const json kNone = json::array();
  const json& listed = storedList(profile, allow);
  const json& stored = listed.is_array() ? listed : kNone;
  const bool allowListOn = profile.enableWhitelistWebsites;
  if (!report.is_object()) report = json::object();
  report["list"] = allow ? "allowed" : "blocked";
  json* patterns = textOnly ? nullptr : &(report["patterns"] = json::array());
  report["allowListOn"] = allowListOn;
  if (allow) {
    text += allowListOn ? "Allowed sites (the allow list is on: every other site is blocked):\n"
                        : "Allowed sites (not in force: the allow list is off):\n";
  } else {
    text +=
        allowListOn ? "Blocked sites (not in force: the allow list is on):\n" : "Blocked sites:\n";
  }
  bool any = false;
  for (const json& entry : stored) {
    if (!entry.is_string()) continue;
    const std::string& pattern = entry.get_ref<const std::string&>();
    text += pattern;
    text += '\n';
    if (patterns != nullptr) patterns->push_back(pattern);
    any = true;
  }
  if (!any) text += "(no patterns)\n";
  return CommandOutcome::done(std::move(report), std::move(text));
}

// Saves the changed profile and lets the matchers follow; on failure `undo` puts the change
// back (a list of tens of thousands of patterns is not copied to be able to).
Status saveSites(Zelto& zelto, const std::function<void()>& undo) {
  Status saved = zelto.save();
  if (!saved.ok()) {
    undo();
    return saved;
  }
  Env::notificationCenter().post(ZeltoURLMatcherManager::kDidUpdateBlockSettings);
  return saved;
}

// The arguments without repeats, in their order.
std::vector<std::string> distinct(const std::vector<std::string>& patterns) {
  std::vector<std::string> out;
  for (const std::string& pattern : patterns) {
    if (std::find(out.begin(), out.end(), pattern) == out.end()) out.push_back(pattern);
  }
  return out;
}

std::string inQuotes(const std::string& text) { return json(text).dump(); }

}  // namespace

CommandOutcome SiteCommands::list(Zelto& zelto, const Options& options) {
  return listOutcome(*zelto.prefs()->defaultProfile(), options.allow, {}, "", options.textOnly);
}

CommandOutcome SiteCommands::add(Zelto& zelto, const Options& options) {
  ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
  json& list = storedList(profile, options.allow);
  if (!list.is_array()) {
    return CommandOutcome::refused(fmt::format(
        "{} in the configuration is not a list; mend the file first", listTitle(options.allow)));
  }
  const std::vector<std::string> patterns = distinct(options.patterns);
  for (const std::string& pattern : patterns) {
    if (pattern.empty()) return CommandOutcome::usage("An empty pattern can't be added");
    // No address holds a space or a control character (they are percent-encoded): such a
    // pattern would never match.
    const bool expression = pattern.size() > 1 && pattern.front() == '/' && pattern.back() == '/';
    if (!expression && std::any_of(pattern.begin(), pattern.end(), [](char c) {
          return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
        })) {
      return CommandOutcome::usage(
          fmt::format("The pattern {} holds a space or a control character, which no address "
                      "has: it would never match (give each address as a pattern of its own)",
                      inQuotes(pattern)));
    }
    // Only patterns the matchers take for expressions ("/.../", or with a "*") are compiled;
    // any other is a plain address, whatever characters it holds.
    ZeltoURLMatcher matcher(pattern);
    if (!matcher.isRegex()) continue;
    Result<Regex> compiled = zelto.zeltoURL().getCachedRegex(matcher.regexSource());
    if (!compiled.ok()) {
      return CommandOutcome::usage(fmt::format("The pattern {} is not valid: {}", inQuotes(pattern),
                                               compiled.status().message()));
    }
  }

  const BlockState state = BlockState::observe(zelto);
  json report = json::object();
  std::string text;
  std::vector<std::string> added;
  std::vector<std::string> already;
  for (const std::string& pattern : patterns) {
    if (isListed(list, pattern)) {
      already.push_back(pattern);
      continue;
    }
    if (!ChangePolicy::decide(
             zelto, state, {.kind = Kind::kAddSite, .subject = pattern, .allowList = options.allow})
             .allowed()) {
      return LockRefusal::refuse(
          zelto, state,
          options.allow ? fmt::format("Adding {} to the allow list", inQuotes(pattern))
                        : fmt::format("Adding the allowing pattern {} to the blocked sites",
                                      inQuotes(pattern)));
    }
    added.push_back(pattern);
  }
  for (const std::string& pattern : already) {
    text += fmt::format("{} is already in {}.\n", inQuotes(pattern), listTitle(options.allow));
  }
  if (!added.empty()) {
    const size_t before = list.size();
    for (const std::string& pattern : added) list.push_back(pattern);
    auto undo = [&] { list.erase(list.begin() + static_cast<std::ptrdiff_t>(before), list.end()); };
    if (Status saved = saveSites(zelto, undo); !saved.ok()) {
      return CommandOutcome::refused(saved.message());
    }
    for (const std::string& pattern : added) {
      text += fmt::format("Added {} to {}.\n", inQuotes(pattern), listTitle(options.allow));
    }
  }
  report["added"] = added;
  report["alreadyListed"] = already;
  return listOutcome(profile, options.allow, std::move(report), std::move(text), options.textOnly);
}

CommandOutcome SiteCommands::remove(Zelto& zelto, const Options& options) {
  ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
  json& list = storedList(profile, options.allow);
  const std::vector<std::string> patterns = distinct(options.patterns);
  for (const std::string& pattern : patterns) {
    if (!list.is_array() || !isListed(list, pattern)) {
      return CommandOutcome::refused(
          fmt::format("{} is not in {}", inQuotes(pattern), listTitle(options.allow)));
    }
  }
  const BlockState state = BlockState::observe(zelto);
  for (const std::string& pattern : patterns) {
    if (!ChangePolicy::decide(
             zelto, state,
             {.kind = Kind::kRemoveSite, .subject = pattern, .allowList = options.allow})
             .allowed()) {
      return LockRefusal::refuse(
          zelto, state,
          options.allow ? fmt::format("Removing the blocking pattern {} from the allow list",
                                      inQuotes(pattern))
                        : fmt::format("Removing {} from the blocked sites", inQuotes(pattern)));
    }
  }
  json before = list;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const json& entry) {
                              return entry.is_string() &&
                                     std::find(patterns.begin(), patterns.end(),
                                               entry.get_ref<const std::string&>()) !=
                                         patterns.end();
                            }),
             list.end());
  if (Status saved = saveSites(zelto, [&] { list = std::move(before); }); !saved.ok()) {
    return CommandOutcome::refused(saved.message());
  }
  std::string text;
  for (const std::string& pattern : patterns) {
    text += fmt::format("Removed {} from {}.\n", inQuotes(pattern), listTitle(options.allow));
  }
  return listOutcome(profile, options.allow, {{"removed", patterns}}, std::move(text),
                     options.textOnly);
}

CommandOutcome SiteCommands::setAllowList(Zelto& zelto, bool on) {
  ProfileZeltoPreferences& profile = *zelto.prefs()->defaultProfile();
  const char* onOff = on ? "on" : "off";
  if (profile.enableWhitelistWebsites == on) {
    return listOutcome(profile, on, {{"changed", false}},
                       fmt::format("The allow list is already {}.\n", onOff));
  }
  const BlockState state = BlockState::observe(zelto);
  if (!ChangePolicy::decide(zelto, state, {.kind = Kind::kSwitchAllowList}).allowed()) {
    return LockRefusal::refuse(zelto, state, fmt::format("Switching the allow list {}", onOff));
  }
  profile.enableWhitelistWebsites = on;
  if (Status saved = saveSites(zelto, [&] { profile.enableWhitelistWebsites = !on; });
      !saved.ok()) {
    return CommandOutcome::refused(saved.message());
  }
  return listOutcome(profile, on, {{"changed", true}},
                     fmt::format("The allow list is now {}.\n", onOff));
}

}  // namespace zelto
