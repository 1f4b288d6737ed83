#include "App/Blocking/Helpers/ZeltoURL.h"

#include <cmath>

#include "App/Blocking/Helpers/URLHelpers.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

constexpr std::string_view kSchemeSeparator = "://";
// Put after a plain pattern that ends in "/": the address may go on only with a "/", a query
// or a fragment.
constexpr std::string_view kEndAnchor = "(\\/)?(\\?.*)?(#.*)?$";
constexpr std::string_view kBlockPageStart = "http://localhost";
constexpr std::string_view kBlockPageMarker = "/block/?zelto_url=";

// Every occurrence of `target` in `text` replaced by `replacement` (plain text, left to right).
std::string replaceAll(std::string_view text, std::string_view target,
                       std::string_view replacement) {
  std::string out;
  size_t from = 0;
  for (size_t at = text.find(target); at != std::string_view::npos; at = text.find(target, from)) {
    out.append(text.substr(from, at - from)).append(replacement);
    from = at + target.size();
  }
  out.append(text.substr(from));
  return out;
}

int blockPagePort(const ZeltoPreferences* prefs) {
  constexpr int kDefault = ZeltoURL::kDefaultHttpPort;
  if (prefs == nullptr || !prefs->httpPort) return kDefault;
  return ZeltoURL::portNumber(*prefs->httpPort, kDefault);
}

}  // namespace

ZeltoURL::ZeltoURL(PrefsSource prefs) : prefs_(std::move(prefs)) {}

std::shared_ptr<const RegexFormat> ZeltoURL::regexFormatFromString(const std::string& pattern) {
  if (pattern.empty()) return nullptr;
  if (auto cached = formatCache_.find(pattern); cached != formatCache_.end()) {
    return cached->second;
  }
  auto format = std::make_shared<RegexFormat>(getRegexFormatFromString(pattern));
  Result<Regex> regex = getCachedRegex(format->regexUrlStr);
  if (!regex.ok()) return nullptr;  // not cached: a later call tries again
  format->regex = std::move(*regex);
  formatCache_.emplace(pattern, format);
  return format;
}

std::optional<Regex> ZeltoURL::regexFromString(const std::string& pattern) {
  auto format = regexFormatFromString(pattern);
  if (!format) return std::nullopt;
  return format->regex;
}

Result<Regex> ZeltoURL::getCachedRegex(const std::string& source) {
  // An empty expression would match every address; only the patterns "/" and "//" give one.
  if (source.empty()) return Status::failure("empty regular expression");
  return Regex::compile(source);
}

bool ZeltoURL::urlIsBlocked(std::string_view url, bool isWhitelist, const Formats& formats) const {
  bool blocked = isWhitelist;
  for (const auto& format : formats) {
    if (!format || !format->regex || !format->regex->isMatch(url)) continue;
    blocked = true;
    if (format->whitelist || isWhitelist) return false;
  }
  return blocked;
}

std::vector<std::string> ZeltoURL::bulkFilterUrls(const std::vector<std::string>& urls,
                                                  const Formats& formats, bool isWhitelist) const {
  std::vector<std::string> blocked;
  for (const auto& url : urls) {
    if (urlIsBlockedPage(url)) continue;
    if (urlIsBlocked(url, isWhitelist, formats)) blocked.push_back(url);
  }
  return blocked;
}

std::string ZeltoURL::getZeltoBlockedPage() const {
  const ZeltoPreferences* prefs = prefs_ ? prefs_() : nullptr;
  return "http://localhost:" + std::to_string(blockPagePort(prefs)) + "/block/";
}

std::string ZeltoURL::getZeltoBlockedPageForURL(std::string_view url) const {
  return getZeltoBlockedPage() + "?" + kBlockedURLKey + "=" + Url::percentEncode(url);
}

std::vector<std::pair<std::string, std::string>> ZeltoURL::partialReplacements() {
  return {{"*", ".*"}, {"?", "\\?"}, {"(", "\\("}, {")", "\\)"}};
}

std::map<std::string, std::string> ZeltoURL::wholeReplacements() {
  const std::string social = kSocialNetworkDomain;
  const std::string images = kImageHostDomain;
  return {
      {social, "/https?://(www\\.)?" + social + "/(?!v2.2/|dialog|login.php)/"},
      {images, "/https?://((i|www)\\.)?" + images + "/"},
  };
}

std::string ZeltoURL::stringByReplacingOccurrencesOfStringSafe(std::string_view text,
                                                               std::string_view target,
                                                               std::string_view replacement) {
  if (target.empty()) return std::string(text);
  if (replacement.empty()) return replaceAll(text, target, replacement);
  // The text between the occurrences of `replacement` has its targets replaced; those
  // occurrences themselves are kept as they are. (The same as hiding them behind a
  // placeholder first, without a placeholder that the text itself might contain.)
  std::string out;
  size_t from = 0;
  for (size_t at = text.find(replacement); at != std::string_view::npos;
       at = text.find(replacement, from)) {
    out.append(replaceAll(text.substr(from, at - from), target, replacement)).append(replacement);
    from = at + replacement.size();
  }
  out.append(replaceAll(text.substr(from), target, replacement));
  return out;
}

RegexFormat ZeltoURL::getRegexFormatFromString(const std::string& pattern) {
  static const auto whole = wholeReplacements();
  static const auto partial = partialReplacements();
  RegexFormat format;
  std::string text = pattern;
  if (auto replaced = whole.find(text); replaced != whole.end()) text = replaced->second;

  if (text.starts_with('+')) {
    text.erase(0, 1);
    format.whitelist = true;
  }

  if (text.starts_with('/') && text.ends_with('/')) {
    // The expression itself; "/" alone holds none (its source stays empty and never compiles).
    format.regexUrlStr = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
    return format;
  }

  if (text.starts_with("*.")) text.replace(1, 1, "[.]");
  for (const auto& [target, replacement] : partial) {
    // (Without the target there is nothing to replace.)
    if (text.find(target) == std::string::npos) continue;
    text = stringByReplacingOccurrencesOfStringSafe(text, target, replacement);
  }
  if (!text.starts_with("http://") && !text.starts_with("https://") &&
      text.find(kSchemeSeparator) == std::string::npos) {
    if (!text.starts_with("www.")) text.insert(0, "(www\\.)?");
    text.insert(0, "https?://");
  }
  if (text.ends_with('/') && !text.ends_with("//")) {
    text.pop_back();
    text.append(kEndAnchor);
  }
  format.regexUrlStr = std::move(text);
  return format;
}

Result<Regex> ZeltoURL::getRegexFromString(const std::string& pattern) {
  if (pattern.empty()) return Status::failure("empty site pattern");
  std::string source = getRegexFormatFromString(pattern).regexUrlStr;
  if (source.empty())
    return Status::failure("site pattern \"" + pattern + "\" holds no expression");
  return Regex::compile(source);
}

std::vector<std::string> ZeltoURL::commonURLBlockParts(const Url& url) {
  if (!URLHelpers::isValidURL(url)) return {};
  std::string host = url.host().value_or("");
  if (host.starts_with("www.")) host.erase(0, 4);
  return {host, url.absoluteString()};
}

std::optional<std::string> ZeltoURL::getZeltoURLFromProxyURL(std::string_view address) {
  Result<Url> url = Url::parse(address);
  if (!url.ok()) return std::nullopt;
  if (!url->query()) return std::string();
  auto parameters = Url::queryParameters(*url->query());
  auto value = parameters.find(kBlockedURLKey);
  if (value == parameters.end()) return std::nullopt;
  return value->second;
}

bool ZeltoURL::isBareDomain(std::string_view text) {
  return !Text::lowercase(text).starts_with("http");
}

std::string ZeltoURL::wrapBareDomain(std::string_view domain) {
  const std::string lower = Text::lowercase(domain);
  const std::string given(domain);
  if (lower.starts_with(kNewsHost)) return "https://" + given + "/";
  if (lower.starts_with("www.")) return "http://" + given + "/";
  return "http://www." + given + "/";
}

std::string ZeltoURL::normalizeHost(std::string_view host) {
  std::string lower = Text::lowercase(host);
  if (lower == kImageHostImageHost) lower = kImageHostDomain;
  if (lower.starts_with("www.")) lower.erase(0, 4);
  return lower;
}

bool ZeltoURL::urlIsBlockedPage(std::string_view url) {
  if (!url.starts_with(kBlockPageStart)) return false;
  // The local host itself, on any port, and the page right there: a URL that merely begins
  // with "http://localhost" and carries the marker somewhere ("http://localhost@site.com/?/block/
  // ?zelto_url=", "http://localhost.site.com/block/...") is another site, and would otherwise
  // never be blocked.
  std::string_view rest = url.substr(kBlockPageStart.size());
  if (rest.starts_with(':')) {
    size_t afterPort = rest.find_first_not_of("0123456789", 1);
    if (afterPort == std::string_view::npos) return false;
    rest.remove_prefix(afterPort);
  }
  return rest.starts_with(kBlockPageMarker);
}

int ZeltoURL::portNumber(const nlohmann::json& value, int fallback) {
  auto inRange = [](auto port) { return port >= 1 && port <= 65535; };
  if (value.is_number_unsigned()) {
    uint64_t port = value.get<uint64_t>();
    return inRange(port) ? static_cast<int>(port) : fallback;
  }
  if (value.is_number_integer()) {
    int64_t port = value.get<int64_t>();
    return inRange(port) ? static_cast<int>(port) : fallback;
  }
  if (value.is_number_float()) {
    double port = value.get<double>();
    return std::isfinite(port) && std::trunc(port) == port && inRange(port) ? static_cast<int>(port)
                                                                            : fallback;
  }
  return fallback;
}

int ZeltoURL::getZeltoBlockedPagePort() const { return blockPagePort(prefs_ ? prefs_() : nullptr); }

}  // namespace zelto
