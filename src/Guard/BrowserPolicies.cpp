#include "Guard/BrowserPolicies.h"

#include <algorithm>
#include <string_view>

#include "Platform/JsonText.h"

namespace zelto {
namespace {

using nlohmann::json;

// Loopback addresses go straight to their host: the block page is served there.
constexpr const char* kChromiumBypass = "localhost;127.0.0.1;[::1]";
constexpr const char* kFirefoxPassthrough = "localhost, 127.0.0.1, [::1]";

std::string proxyAddress(int port) { return "127.0.0.1:" + std::to_string(port); }

// `list` followed by those of `more` it lacks.
json unionOf(const json& list, const std::vector<std::string>& more) {
  json out = list.is_array() ? list : json::array();
  for (const std::string& item : more) {
    if (std::find(out.begin(), out.end(), json(item)) == out.end()) out.push_back(item);
  }
  return out;
}

// Firefox's match pattern for one filter ("[scheme://][.]host[:port][/path]", "*"); nothing
// when there is none (see firefoxPatterns).
std::optional<std::string> firefoxPattern(std::string_view filter, bool blocking) {
  if (filter == "*") return "<all_urls>";
  std::string scheme = "*";
  if (const size_t separator = filter.find("://"); separator != std::string_view::npos) {
    scheme = filter.substr(0, separator);
    if (scheme != "http" && scheme != "https") return std::nullopt;
    filter.remove_prefix(separator + 3);
  }
  const bool exactHost = filter.starts_with('.');
  if (exactHost) filter.remove_prefix(1);
  const size_t hostEnd = std::min(filter.find_first_of(":/"), filter.size());
  const std::string_view host = filter.substr(0, hostEnd);
  std::string_view rest = filter.substr(hostEnd);
  if (host.empty() || host == "*") return std::nullopt;
  if (rest.starts_with(':')) {
    if (blocking) return std::nullopt;  // Firefox would block every port
    rest.remove_prefix(std::min(rest.find('/'), rest.size()));
  }
  std::string out = scheme + "://" + (exactHost ? "" : "*.") + std::string(host);
  return rest.empty() ? out + "/*" : out + std::string(rest) + "*";
}

}  // namespace

const std::vector<std::string>& BrowserPolicies::chromiumPolicyFolders() {
  static const std::vector<std::string> folders{
      "/etc/chromium/policies/managed",    // Debian's chromium
      "/etc/opt/chrome/policies/managed",  // Google Chrome
      "/etc/brave/policies/managed",       // Brave
      "/etc/opt/edge/policies/managed",    // Microsoft Edge
  };
  return folders;
}

const std::string& BrowserPolicies::firefoxPolicyFile() {
  static const std::string file = "/etc/firefox/policies/policies.json";
  return file;
}

const std::vector<std::string>& BrowserPolicies::firefoxDistributionFiles() {
  static const std::vector<std::string> files{
      "/usr/lib/firefox-esr/distribution/policies.json",
      "/usr/lib/firefox/distribution/policies.json",
  };
  return files;
}

std::vector<std::string> BrowserPolicies::firefoxPatterns(const std::vector<std::string>& filters,
                                                          bool blocking) {
  std::vector<std::string> out;
  for (const std::string& filter : filters) {
    std::optional<std::string> pattern = firefoxPattern(filter, blocking);
    if (pattern && std::find(out.begin(), out.end(), *pattern) == out.end())
      out.push_back(std::move(*pattern));
  }
  return out;
}

std::string BrowserPolicies::chromium(const Enforcement& enforcement) {
  json policies = json::object();
  if (enforcement.proxyPort > 0) {
    policies["ProxySettings"] = {{"ProxyMode", "fixed_servers"},
                                 {"ProxyServer", proxyAddress(enforcement.proxyPort)},
                                 {"ProxyBypassList", kChromiumBypass}};
  }
  policies["DnsOverHttpsMode"] = "off";
  if (!enforcement.urlBlocklist.empty()) policies["URLBlocklist"] = enforcement.urlBlocklist;
  if (!enforcement.urlAllowlist.empty()) policies["URLAllowlist"] = enforcement.urlAllowlist;
  return policies.dump(2) + "\n";
}

std::string BrowserPolicies::firefox(const Enforcement& enforcement,
                                     const std::optional<std::string>& original) {
  json file = json::object();
  if (original) {
    Result<json> parsed = JsonText::parse(*original);
    if (parsed.ok() && parsed->is_object() &&
        (!parsed->contains("policies") || (*parsed)["policies"].is_object())) {
      file = std::move(*parsed);
    }
  }
  json& policies = file["policies"];
  if (!policies.is_object()) policies = json::object();
  if (enforcement.proxyPort > 0) {
    policies["Proxy"] = {{"Mode", "manual"},
                         {"Locked", true},
                         {"HTTPProxy", proxyAddress(enforcement.proxyPort)},
                         {"UseHTTPProxyForAllProtocols", true},
                         {"Passthrough", kFirefoxPassthrough}};
  }
  policies["DNSOverHTTPS"] = {{"Enabled", false}, {"Locked", true}};
  const std::vector<std::string> block = firefoxPatterns(enforcement.urlBlocklist, true);
  const std::vector<std::string> exceptions = firefoxPatterns(enforcement.urlAllowlist, false);
  if (!block.empty()) {
    json& filter = policies["WebsiteFilter"];
    if (!filter.is_object()) filter = json::object();
    filter["Block"] = unionOf(filter.value("Block", json::array()), block);
    if (!exceptions.empty())
      filter["Exceptions"] = unionOf(filter.value("Exceptions", json::array()), exceptions);
  }
  return file.dump(2) + "\n";
}

}  // namespace zelto
