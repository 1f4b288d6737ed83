// ZeltoURL: turns the site patterns users write into regular expressions, decides with a list
// of them whether URLs are blocked, and builds the address of the local block page.
//
// Pattern syntax (converted by getRegexFormatFromString):
//   "+" first        the pattern allows instead of blocking;
//   "/.../"          the text between the slashes is the expression itself;
//   "*"              any text ("*." first: any subdomain, with a real dot before the domain);
//   "?", "(", ")"    themselves;
//   otherwise        a plain address: "https?://(www\.)?" is put before it unless it names a
//                    scheme ("www." first keeps its www), and a trailing "/" anchors the end,
//                    allowing only a query or a fragment after it.
// Dots are not escaped and there is no start anchor: a match may begin anywhere in a URL.
//
// Ownership: the controller owns one instance; it reads the port of the block page from the
// preferences record its source hands out at each call (none: the default port). The formats
// it builds are cached per pattern for the life of the instance; only patterns that compiled
// are cached.
//
// Threads: an instance belongs to one thread at a time (the controller's); the class
// operations may be called from any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "App/Blocking/Helpers/RegexFormat.h"
#include "Platform/Regex.h"
#include "Platform/Status.h"
#include "Platform/Url.h"

namespace zelto {

class ZeltoPreferences;

class ZeltoURL {
 public:
  using Formats = std::vector<std::shared_ptr<const RegexFormat>>;
  using PrefsSource = std::function<ZeltoPreferences*()>;

  static constexpr uint16_t kDefaultHttpPort = 8919;
  // The query key that carries the blocked URL in a block-page address.
  static constexpr const char* kBlockedURLKey = "zelto_url";
  // Whole-pattern replacements: sites whose ordinary conversion would be wrong.
  static constexpr const char* kSocialNetworkDomain = "facebook.com";
  static constexpr const char* kImageHostDomain = "imgur.com";
  static constexpr const char* kImageHostImageHost = "i.imgur.com";
  static constexpr const char* kNewsHost = "news.ycombinator.com";

  explicit ZeltoURL(PrefsSource prefs);

  // The format of `pattern`, compiled, from the cache or built and cached now (the same object
  // for the same pattern text). Nothing for an empty pattern or one whose expression doesn't
  // compile; such a pattern isn't cached, so a later call tries again.
  std::shared_ptr<const RegexFormat> regexFormatFromString(const std::string& pattern);
  // The compiled expression of that format, or nothing.
  std::optional<Regex> regexFromString(const std::string& pattern);
  // How many patterns have their format cached.
  size_t cachedFormatCount() const { return formatCache_.size(); }
  // `source` compiled anew (no cache, despite the name). An empty source is refused: it would
  // match every address.
  Result<Regex> getCachedRegex(const std::string& source);

  // Blocked by `formats`: in allow-list mode, unless some format matches; in block-list mode,
  // when some format matches and no matching format allows ("+"). `url` is compared as given.
  bool urlIsBlocked(std::string_view url, bool isWhitelist, const Formats& formats) const;
  // The blocked ones of `urls`, in their order; block-page addresses are never blocked.
  std::vector<std::string> bulkFilterUrls(const std::vector<std::string>& urls,
                                          const Formats& formats, bool isWhitelist) const;

  // "http://localhost:PORT/block/", PORT being the preferences' "httpPort" when it is a whole
  // number from 1 to 65535, else 8919.
  std::string getZeltoBlockedPage() const;
  // The PORT of that address: where the block page must be served.
  int getZeltoBlockedPagePort() const;
  // The block page for `url`: the base address, "?zelto_url=" and `url` percent-encoded.
  std::string getZeltoBlockedPageForURL(std::string_view url) const;

  // Class operations.
  static std::vector<std::pair<std::string, std::string>> partialReplacements();
  static std::map<std::string, std::string> wholeReplacements();
  // `text` with every `target` replaced by `replacement`, where text that already reads
  // `replacement` is left alone ("a.*b" stays "a.*b" under "*" -> ".*").
  static std::string stringByReplacingOccurrencesOfStringSafe(std::string_view text,
                                                              std::string_view target,
                                                              std::string_view replacement);
  // The format of `pattern`, not compiled. The patterns "/" and "//" (and "+/", "+//") name no
  // expression: their source is empty, and it never compiles.
  static RegexFormat getRegexFormatFromString(const std::string& pattern);
  // The format of `pattern` compiled; not cached. A failure for an empty pattern or source.
  static Result<Regex> getRegexFromString(const std::string& pattern);
  // The host less a leading "www." and the whole address, for a valid URL; else nothing.
  static std::vector<std::string> commonURLBlockParts(const Url& url);
  // The blocked URL that a block-page address carries: "" when the address has no query,
  // nothing when it has no "zelto_url" key or isn't a URL.
  static std::optional<std::string> getZeltoURLFromProxyURL(std::string_view address);
  // `value` as a port: a whole number from 1 to 65535. Anything else (absent, fractional,
  // negative, too large, not a number) gives `fallback` rather than a port that wrapped around.
  static int portNumber(const nlohmann::json& value, int fallback);
  static bool isBareDomain(std::string_view text);
  static std::string wrapBareDomain(std::string_view domain);
  static std::string normalizeHost(std::string_view host);
  // "http://localhost", an optional port, then "/block/?zelto_url=": a block-page address.
  static bool urlIsBlockedPage(std::string_view url);

 private:
  PrefsSource prefs_;
  std::map<std::string, std::shared_ptr<const RegexFormat>, std::less<>> formatCache_;
};

}  // namespace zelto
