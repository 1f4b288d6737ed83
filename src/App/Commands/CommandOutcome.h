// CommandOutcome: what one zeltoctl command came to, before it is printed: its exit status,
// the report for programs (--json) and the text for people.
//
// Exit statuses: 0 done, 1 refused (or a failure of the system: the configuration can't be
// read or locked), 2 a usage error (a bad argument, named in the message).
//
// A plain value; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace zelto {

struct CommandOutcome {
  static constexpr int kDone = 0;
  static constexpr int kRefused = 1;
  static constexpr int kUsage = 2;

  int exitCode = kDone;
  // For --json: the whole report on success; on refusal an object with "error" (the message)
  // and whatever else helps a program (say, "endsAt").
  nlohmann::json report = nlohmann::json::object();
  // For people: on success printed to standard output, else to standard error after
  // "zeltoctl: ". Ends with a newline when not empty.
  std::string text;

  static CommandOutcome done(nlohmann::json report, std::string text) {
    return {kDone, std::move(report), std::move(text)};
  }
  // `reason`: one line, no "zeltoctl: " and no newline.
  static CommandOutcome refused(std::string reason,
                                nlohmann::json report = nlohmann::json::object()) {
    report["error"] = reason;
    return {kRefused, std::move(report), reason + "\n"};
  }
  static CommandOutcome usage(std::string reason) {
    return {kUsage, {{"error", reason}}, reason + "\n"};
  }
  bool ok() const { return exitCode == kDone; }
};

}  // namespace zelto
