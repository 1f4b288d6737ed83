// Fuzz target: site patterns and a URL. The last line of the input is the URL; every line
// before it is a pattern of the site list (at most 32; an input of two lines is one pattern
// and a URL).
//
// Each pattern is converted to its expression and matched against the URL. The list is then
// used in block-list and in allow-list mode, and the indexed decision must agree with the walk
// through every matcher (blocked or not, rank and matcher).
#include <string>
#include <vector>

#include "App/Blocking/Helpers/ZeltoURL.h"
#include "App/Blocking/Helpers/ZeltoURLMatcherManager.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/NotificationCenter.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelto;
  fuzz::quietLog();
  std::string_view text = fuzz::bytesOf(data, size);
  std::vector<std::string> patterns;
  for (;;) {
    auto [line, rest] = fuzz::firstLineAndRest(text);
    if (line.size() == text.size() || patterns.size() == 32) break;
    patterns.emplace_back(line);
    text = rest;
  }
  const std::string url(text);

  ZeltoPreferences prefs;
  prefs.profiles.emplace_back();
  ZeltoURL converter([&] { return &prefs; });
  ZeltoURL::Formats formats;
  for (const std::string& pattern : patterns) {
    if (auto format = converter.regexFormatFromString(pattern)) formats.push_back(format);
    ZeltoURLMatcher matcher(pattern);
    (void)matcher.isMatch(url);
  }
  (void)converter.urlIsBlocked(url, false, formats);
  (void)converter.urlIsBlocked(url, true, formats);

  for (bool allowList : {false, true}) {
    ProfileZeltoPreferences& profile = prefs.profiles.front();
    profile.enableWhitelistWebsites = allowList;
    (allowList ? profile.whitelistedWebsites : profile.blockedWebsites) = patterns;
    NotificationCenter center;
    ZeltoURLMatcherManager manager([&] { return &prefs; }, center);
    manager.setup();
    const auto indexed = manager.decide(url);
    const auto walked = manager.decideByWalking(url);
    fuzz::require(indexed.blocked == walked.blocked && indexed.rank == walked.rank &&
                      indexed.matcher == walked.matcher,
                  "the indexed decision agrees with the walk");
  }
  return 0;
}
