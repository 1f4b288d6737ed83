// BrowserPolicies: the browsers' managed policies that hold them to an Enforcement, as text.
//
// The Chromium family (Chromium, Chrome, Brave, Edge) reads every JSON file of its managed
// policy folder: the guard writes one of its own there, "zelto-guard.json", with
//   ProxySettings     the guard's proxy for every address but the loopback ones;
//   DnsOverHttpsMode  "off", so that names go through the system's resolver and the hosts file;
//   URLBlocklist, URLAllowlist  the Enforcement's filters, in the form these browsers read.
// Firefox (and Debian's firefox-esr, which reads the same path) takes one policies.json, which
// may hold an administrator's policies: the guard's are merged into that file as it was before
// the guard (the original, which the guard keeps aside and puts back at the end): Proxy (manual,
// locked, loopback passed through), DNSOverHTTPS (off, locked) and WebsiteFilter (Block and
// Exceptions as match patterns, added to any the original had). An original that isn't a JSON
// object of policies is not read: the guard's policies stand alone while it runs.
//
// Firefox's patterns don't name ports, so a filter that does (a path on the default ports) is
// left out of its Block list rather than widened to every port; an allowing filter may be
// widened.
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Guard/Enforcement.h"

namespace zelto {

class BrowserPolicies {
 public:
  static constexpr const char* kChromiumFileName = "zelto-guard.json";

  // The managed policy folders of the Chromium browsers (system paths).
  static const std::vector<std::string>& chromiumPolicyFolders();
  // Firefox's system-wide policies file.
  static const std::string& firefoxPolicyFile();
  // The policies files of Firefox's installation folders, which Firefox no longer reads once
  // the system-wide file exists: when there was none, the first of these that exists is what
  // the guard's policies are merged into.
  static const std::vector<std::string>& firefoxDistributionFiles();

  // The guard's Chromium policy file.
  static std::string chromium(const Enforcement& enforcement);
  // Firefox's policies file: `original` (the file as it was before the guard; nothing when
  // there was none) with the guard's policies merged in.
  static std::string firefox(const Enforcement& enforcement,
                             const std::optional<std::string>& original);
  // Firefox's match patterns for the Enforcement's `filters`: for a block list, only those
  // that match no more than the filter; for an allow list, patterns that match at least as much.
  static std::vector<std::string> firefoxPatterns(const std::vector<std::string>& filters,
                                                  bool blocking);
};

}  // namespace zelto
