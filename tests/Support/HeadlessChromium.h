// HeadlessChromium: Debian's Chromium run headless for a page, as a test's browser: the page's
// DOM after load, or a screenshot. A headless browser on a loaded machine now and then aborts a
// load or never exits: such a run is tried again, up to three times in all.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Support/ChildProcess.h"

namespace zelto::testing {

constexpr const char* kChromium = "/usr/bin/chromium";

// How Chromium is started for `url`, with its profile and output in `dir`: the program first.
// `settings`: arguments of the browser's own (a proxy, say); `prefix`: a program and its
// arguments that run the browser ("nsenter", ...); `output`: "--dump-dom" or "--screenshot=...".
inline std::vector<std::string> chromiumCommand(const std::string& dir, const std::string& url,
                                                const std::vector<std::string>& settings,
                                                const std::string& output,
                                                std::vector<std::string> prefix) {
  prefix.insert(prefix.end(), {kChromium, "--headless", "--no-sandbox", "--disable-gpu",
                               "--disable-dev-shm-usage", "--no-first-run",
                               "--user-data-dir=" + dir + "/chromium", "--window-size=1024,768"});
  prefix.insert(prefix.end(), settings.begin(), settings.end());
  prefix.insert(prefix.end(), {output, url});
  return prefix;
}

// Runs `command` (see chromiumCommand) for at most a minute, its output in `dir`: its wait
// status, nothing when it didn't end.
inline std::optional<int> runChromium(const std::string& dir, std::vector<std::string> command) {
  const std::string program = command.front();
  command.erase(command.begin());
  return ChildProcess(program, {}, dir + "/chromium.err", command, dir + "/chromium.out")
      .waitForExit(std::chrono::seconds(60));
}

// Chromium's view of `url` (see chromiumCommand): the DOM, or "" with a screenshot saved to
// `screenshot` when one is named.
inline std::string browse(const std::string& dir, const std::string& url,
                          const std::vector<std::string>& settings,
                          const std::string& screenshot = "",
                          std::vector<std::string> prefix = {}) {
  std::vector<std::string> arguments = chromiumCommand(
      dir, url, settings, screenshot.empty() ? "--dump-dom" : "--screenshot=" + screenshot,
      std::move(prefix));
  for (int attempt = 1; attempt <= 3; ++attempt) {
    auto status = runChromium(dir, arguments);
    const std::string out = readWholeFile(dir + "/chromium.out");
    const bool done = screenshot.empty() ? out.find("</html>") != std::string::npos
                                         : std::filesystem::exists(screenshot);
    if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0 && done) return out;
    std::printf("Chromium's attempt %d at %s failed:\n%s\n", attempt, url.c_str(),
                readWholeFile(dir + "/chromium.err").c_str());
  }
  ADD_FAILURE() << "Chromium never loaded " << url;
  return "";
}

// What Chromium says when a load of `url` is refused before anything is shown (a policy's
// block): the "Page load failed" line of its log, "" when the page loaded.
inline std::string refusedLoad(const std::string& dir, const std::string& url,
                               std::vector<std::string> prefix = {}) {
  runChromium(dir, chromiumCommand(dir, url, {}, "--dump-dom", std::move(prefix)));
  const std::string err = readWholeFile(dir + "/chromium.err");
  const size_t at = err.find("Page load failed");
  return at == std::string::npos ? "" : err.substr(at, err.find('\n', at) - at);
}

}  // namespace zelto::testing
