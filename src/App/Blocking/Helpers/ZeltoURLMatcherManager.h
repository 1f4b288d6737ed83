// ZeltoURLMatcherManager: whether a URL is blocked now, by the default profile's site list.
//
// It keeps one matcher per always-allowed address and per entry of the profile's list in force
// (the allowed sites in allow-list mode, else the blocked ones), and decides in four passes,
// each walking the matchers in order and stopping at the first that matches:
//   rank 1  "+" patterns                                   allowed
//   rank 2  "-" patterns                                   blocked
//   rank 3  always-allowed addresses; in allow-list mode
//           every plain pattern                            allowed
//   rank 4  in block-list mode every plain pattern         blocked
//   rank 5  nothing matched: blocked in allow-list mode, allowed in block-list mode.
// Block-page addresses are always allowed. Empty entries of the list make no matcher. An entry
// with non-ASCII text in a plain or "*" pattern ("bücher.test") makes a second matcher right
// after its own, alike but for its ASCII form ("xn--bcher-kva.test"), the form browsers send.
//
// `decide` gets the same answer without walking: an index built with the matchers
// (ZeltoURLMatchIndex) names the few that could match, in the order the walk would try them,
// and only those are asked. The walk itself stays as `decideByWalking`, the reference that the
// index must agree with (the tests compare the two on generated lists and URLs). `matches()`
// exposes the matchers, always-allowed first, each with its kind (plain prefixes, exact, regex;
// allow or block; priority).
//
// Ownership: the controller owns one. It reads the preferences record its source hands out
// (none: no user patterns, block-list mode). After `setup` it rebuilds its matchers whenever
// "DidUpdateBlockSettings" is posted on its notification centre (the mode as it is then, the
// list as it is when a decision first needs them), and stops observing when it is destroyed.
//
// Threads: no lock. Posting "DidUpdateBlockSettings" and every other call belong on one thread
// (the controller's).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/Blocking/Helpers/ZeltoURLMatchIndex.h"
#include "App/Blocking/Helpers/ZeltoURLMatcher.h"
#include "Platform/NotificationCenter.h"

namespace zelto {

class ProfileZeltoPreferences;
class ZeltoPreferences;

class ZeltoURLMatcherManager {
 public:
  using PrefsSource = std::function<ZeltoPreferences*()>;

  static constexpr const char* kDidUpdateBlockSettings = "DidUpdateBlockSettings";
  // The product's own web site, always allowed.
  static constexpr const char* kProductHost = "quarnix.com";

  // What decided a URL: the rank above (1 to 5) and the matcher, none for rank 5 and for a
  // block-page address (which reports rank 3, the rank of the always-allowed block page).
  struct Decision {
    bool blocked = false;
    int rank = 5;
    const ZeltoURLMatcher* matcher = nullptr;
  };

  // The eight always-allowed addresses, in order: six browser-internal schemes, the local
  // block page on its default port and the product's web site.
  static const std::vector<std::string>& alwaysAllowedAddresses();

  // Reads the allow-list flag; no matchers yet.
  explicit ZeltoURLMatcherManager(PrefsSource prefs,
                                  NotificationCenter& center = NotificationCenter::defaultCenter());
  ~ZeltoURLMatcherManager();
  ZeltoURLMatcherManager(const ZeltoURLMatcherManager&) = delete;
  ZeltoURLMatcherManager& operator=(const ZeltoURLMatcherManager&) = delete;

  // Observes "DidUpdateBlockSettings" and builds the matchers. Call once.
  void setup();
  // Takes the allow-list flag and the site list from the record in memory (not reloaded from
  // disk); the matchers and the index are built from them when first needed (a process that
  // never decides a URL, like the agent, never compiles them).
  void updateMatches();

  bool shouldBlock(std::string_view url) const { return decide(url).blocked; }
  Decision decide(std::string_view url) const;
  // The same decision by the four-pass walk over every matcher: the reference, for the tests
  // and the benchmark.
  Decision decideByWalking(std::string_view url) const;

  bool isWhitelisted() const { return isWhitelisted_; }
  const std::vector<ZeltoURLMatcher>& matches() const;

 private:
  const ProfileZeltoPreferences* defaultProfile() const;
  // Builds the matchers and the index from the sites taken at the last update, once.
  void build() const;

  PrefsSource prefs_;
  NotificationCenter& center_;
  std::optional<NotificationCenter::Token> observer_;
  bool isWhitelisted_ = false;
  mutable bool built_ = true;  // before the first update there is nothing to build
  mutable std::vector<ZeltoURLMatcher> matches_;
  mutable ZeltoURLMatchIndex index_;  // over matches_
};

}  // namespace zelto
