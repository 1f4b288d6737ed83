#include "App/Commands/GuardCommands.h"

#include <fmt/format.h>
#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <memory>

#include "App/Commands/BlockReport.h"
#include "App/Commands/ProgramDefaults.h"
#include "App/Data/ApplicationPorts.h"
#include "App/Data/Preferences/JSONValues.h"
#include "App/Guard/GuardClient.h"
#include "Platform/Env.h"
#include "Platform/ProcessInfo.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {

using json = nlohmann::json;

constexpr const char* kNoGuard =
    "No system guard runs here: the lock holds for this session only. Installing the system "
    "guard (see the README, \"The system guard\") makes it hold against killed programs and "
    "edited files.";

constexpr const char* kToldNoGuardKey = "toldNoSystemGuard";

// The user a name or an ID names.
std::optional<uid_t> userNamed(const std::string& user) {
  uid_t uid = 0;
  const auto [end, error] = std::from_chars(user.data(), user.data() + user.size(), uid);
  if (error == std::errc() && end == user.data() + user.size()) return uid;
  const passwd* entry = ::getpwnam(user.c_str());
  return entry != nullptr ? std::optional<uid_t>(entry->pw_uid) : std::nullopt;
}

std::string lockText(Zelto& zelto, const json& lock) {
  auto read = GuardLock::fromJson(lock);
  if (!read) return "a lock that can't be read (" + read.status().message() + ")";
  return fmt::format("{}: {} {} site(s), {} program(s) ended",
                     BlockReport::untilText(zelto, read->end),
                     read->allowListMode ? "allow-list mode with" : "blocking",
                     read->allowListMode ? read->allowedSites.size() : read->blockedSites.size(),
                     read->programs.size());
}

}  // namespace

void GuardCommands::handOver(Zelto& zelto, Date end, CommandOutcome& outcome) {
  const ProfileZeltoPreferences* profile =
      zelto.prefs() != nullptr ? zelto.prefs()->defaultProfile() : nullptr;
  if (profile == nullptr) return;
  std::unique_ptr<UserDefaults> defaults = ProgramDefaults::of(ProgramDefaults::kApplicationDomain);
  const int proxyPort = ApplicationPorts::proxy(*defaults).number;
  auto answer = GuardClient::lock(GuardLock::ofProfile(*profile, end, proxyPort));
  if (!answer) {
    if (answer.status().kind() != Status::Kind::kUnavailable) {
      outcome.report["guard"] = "unreachable";
      outcome.text += "The system guard can't be reached: " + answer.status().message() +
                      ". The lock holds for this session only.\n";
      return;
    }
    // Said once: a user who chose to go without the guard isn't told at every start.
    outcome.report["guard"] = "absent";
    UserDefaults& defaults = Env::standardUserDefaults();
    if (defaults.objectForKey(kToldNoGuardKey) == nlohmann::json(true)) return;
    outcome.text += std::string(kNoGuard) + "\n";
    defaults.setObject(true, kToldNoGuardKey);
    // At worst it is said again next time.
    defaults.synchronize().ignoreError();
    return;
  }
  if ((*answer)["ok"] == true) {
    outcome.report["guard"] = "locked";
    outcome.text += "Locked by the system guard " + BlockReport::untilText(zelto, end) + ".\n";
    return;
  }
  outcome.report["guard"] = "refused";
  outcome.text += "The system guard kept its own lock: " +
                  (*answer).value("error", std::string("no reason given")) + "\n";
}

CommandOutcome GuardCommands::status(Zelto& zelto) {
  auto answer = GuardClient::status();
  if (!answer) {
    if (answer.status().kind() == Status::Kind::kUnavailable) {
      return CommandOutcome::done({{"guard", "absent"}}, std::string(kNoGuard) + "\n");
    }
    return CommandOutcome::refused("The system guard can't be reached: " +
                                   answer.status().message());
  }
  if ((*answer)["ok"] != true) {
    return CommandOutcome::refused((*answer).value("error", std::string("refused")));
  }
  json report = {{"guard", "present"}, {"locked", (*answer)["locked"]}};
  if ((*answer)["locked"] != true) {
    return CommandOutcome::done(report, "The system guard holds no lock for you.\n");
  }
  report["lock"] = (*answer)["lock"];
  return CommandOutcome::done(report, "The system guard holds your block locked " +
                                          lockText(zelto, report["lock"]) + ".\n");
}

CommandOutcome GuardCommands::release(const std::string& user) {
  if (::geteuid() != 0) {
    return CommandOutcome::refused(
        "Only root ends a lock of the system guard: sudo zeltoctl guard release");
  }
  std::string named = user;
  if (named.empty()) named = ProcessInfo::environmentValue("SUDO_UID").value_or("");
  if (named.empty()) {
    return CommandOutcome::usage("Name the user whose lock ends: --user NAME or --user UID");
  }
  std::optional<uid_t> uid = userNamed(named);
  if (!uid) return CommandOutcome::usage("--user: no user \"" + named + "\"");
  auto answer = GuardClient::release(*uid);
  if (!answer)
    return CommandOutcome::refused("The system guard can't be reached: " +
                                   answer.status().message());
  if ((*answer)["ok"] != true) {
    return CommandOutcome::refused((*answer).value("error", std::string("refused")));
  }
  const bool released = (*answer)["released"] == true;
  return CommandOutcome::done(
      {{"released", released}, {"uid", *uid}},
      released ? fmt::format("The lock of user {} is ended.\n", *uid)
               : fmt::format("The system guard holds no lock for user {}.\n", *uid));
}

}  // namespace zelto
