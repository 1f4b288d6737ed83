#include "Platform/Url.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <new>

#include "Platform/Check.h"
#include "Platform/Linux/CurlLibrary.h"

namespace zelto {
namespace {

// The loaded library. Parsing checks for it first and fails without it; percent-coding has no
// way to fail, so a program that can't load libcurl (a broken installation) stops there.
const CurlLibrary& curl() {
  const CurlLibrary* library = CurlLibrary::get();
  ZELTO_CHECK(library != nullptr, "libcurl is needed for percent-encoding and could not be loaded");
  return *library;
}

struct CurlUrlCleanup {
  void operator()(CURLU* handle) const { curl().url_cleanup(handle); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlCleanup>;

struct CurlFree {
  void operator()(char* text) const { curl().free(text); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

// Schemes whose URLs always name a host, as browsers read them: "http:a.com" is refused rather
// than read as a path.
constexpr std::array<std::string_view, 5> kSchemesWithHost = {"http", "https", "ws", "wss", "ftp"};

// libcurl measures its texts in int: longer ones go through in pieces of this many bytes.
constexpr size_t kPieceSize = size_t{1} << 20;

// Failure messages quote at most this much of the text.
constexpr size_t kLongestQuote = 200;

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// White space and control characters, which no URL holds as they are.
bool isSpaceOrControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte == 0x7F;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

// The length of the scheme `text` begins with (ALPHA *( ALPHA / DIGIT / "+" / "-" / "." )
// followed by ":"), or 0 when it begins with none.
size_t schemeLength(std::string_view text) {
  if (text.empty() || !isAlpha(text[0])) return 0;
  size_t i = 1;
  while (i < text.size() && (isAlpha(text[i]) || isDigit(text[i]) || text[i] == '+' ||
                             text[i] == '-' || text[i] == '.')) {
    ++i;
  }
  return i < text.size() && text[i] == ':' ? i : 0;
}

// `text`, shortened for a message.
std::string quote(std::string_view text) {
  if (text.size() <= kLongestQuote) return "\"" + std::string(text) + "\"";
  size_t end = kLongestQuote;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return "\"" + std::string(text.substr(0, end)) + "…\"";
}

// What follows the authority (or the whole of a reference without one): a path, then an
// optional "?" query, then an optional "#" fragment.
struct Tail {
  std::string_view path;
  std::optional<std::string_view> query;
  std::optional<std::string_view> fragment;
};

Tail splitTail(std::string_view text) {
  Tail tail;
  if (const size_t hash = text.find('#'); hash != std::string_view::npos) {
    tail.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  if (const size_t question = text.find('?'); question != std::string_view::npos) {
    tail.query = text.substr(question + 1);
    text = text.substr(0, question);
  }
  tail.path = text;
  return tail;
}

// The part of a parsed handle, as written (not decoded); nothing when libcurl has none.
std::optional<std::string> part(CURLU* handle, CURLUPart which) {
  char* raw = nullptr;
  const CURLUcode code = curl().url_get(handle, which, &raw, 0);
  CurlText text(raw);
  if (code != CURLUE_OK || text == nullptr) return std::nullopt;
  return std::string(text.get());
}

// Runs `convert` (a libcurl escape or unescape) over `text` in pieces libcurl can measure,
// each cut just before a "%" when there is one near its end, so that no "%XX" is cut.
template <typename Convert>
std::string inPieces(std::string_view text, Convert convert) {
  std::string out;
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.size(), start + kPieceSize);
    if (end < text.size()) {
      const size_t percent = text.rfind('%', end);
      if (percent != std::string_view::npos && percent > start) end = percent;
    }
    // A length of 0 would make libcurl measure the text itself: pieces are never empty.
    int length = 0;
    CurlText converted(convert(text.data() + start, static_cast<int>(end - start), &length));
    if (converted == nullptr) throw std::bad_alloc();  // libcurl's only failure
    out.append(converted.get(), static_cast<size_t>(length));
    start = end;
  }
  return out;
}

}  // namespace

Result<Url> Url::parse(std::string_view text) {
  const auto failure = [&](const std::string& reason) {
    return Status::failure(quote(text) + " is not a URL: " + reason);
  };
  if (std::any_of(text.begin(), text.end(), isSpaceOrControl)) {
    return failure("it contains white space or a control character");
  }
  Url url;
  url.text_ = std::string(text);
  std::string_view rest = text;
  if (const size_t length = schemeLength(text); length > 0) {
    url.scheme_ = std::string(text.substr(0, length));
    rest = text.substr(length + 1);
  }

  if (!rest.starts_with("//")) {
    // No authority: "mailto:a@b.c", "localhost:8919/x" (scheme "localhost"), "a.com/x?y".
    if (url.scheme_ &&
        std::any_of(kSchemesWithHost.begin(), kSchemesWithHost.end(),
                    [&](std::string_view s) { return equalsIgnoringCase(s, *url.scheme_); })) {
      return failure("a " + *url.scheme_ + " URL needs a host (\"" + *url.scheme_ + "://\")");
    }
    const Tail tail = splitTail(rest);
    url.path_ = std::string(tail.path);
    if (tail.query) url.query_ = std::string(*tail.query);
    if (tail.fragment) url.fragment_ = std::string(*tail.fragment);
    return url;
  }

  // An authority: libcurl reads the URL. Which parts are present is read from the text, since
  // libcurl fills some in ("/" for a missing path) and leaves out empty ones.
  const std::string_view afterSlashes = rest.substr(2);
  const size_t authorityEnd = std::min(afterSlashes.find_first_of("/?#"), afterSlashes.size());
  const std::string_view authority = afterSlashes.substr(0, authorityEnd);
  const bool isFile = url.scheme_ && equalsIgnoringCase(*url.scheme_, "file");
  // libcurl would read "http:///a.com" as the host "a.com"; only file URLs go without one.
  if (authority.empty() && !isFile) return failure("it has no host");
  if (CurlLibrary::get() == nullptr) {
    return failure(std::string("libcurl is unavailable: ") + CurlLibrary::loadError());
  }

  CurlUrl handle(curl().url());
  if (handle == nullptr) throw std::bad_alloc();
  // A "//host" reference is read as if it had a scheme, which is then reported absent.
  const std::string curlText = url.scheme_ ? url.text_ : "http:" + url.text_;
  const CURLUcode code = curl().url_set(handle.get(), CURLUPART_URL, curlText.c_str(),
                                        CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS);
  if (code != CURLUE_OK) return failure(curl().url_strerror(code));

  // A file URL's host may be empty ("file:///etc") or dropped by libcurl ("localhost").
  url.host_ = part(handle.get(), CURLUPART_HOST).value_or("");
  if (std::optional<std::string> port = part(handle.get(), CURLUPART_PORT)) {
    int number = 0;  // libcurl checked it: digits, 0 to 65535
    std::from_chars(port->data(), port->data() + port->size(), number);
    url.port_ = number;
  }
  const Tail tail = splitTail(afterSlashes.substr(authorityEnd));
  if (!tail.path.empty()) url.path_ = part(handle.get(), CURLUPART_PATH).value_or("");
  if (tail.query) url.query_ = part(handle.get(), CURLUPART_QUERY).value_or("");
  if (tail.fragment) url.fragment_ = part(handle.get(), CURLUPART_FRAGMENT).value_or("");
  return url;
}

std::string Url::percentEncode(std::string_view text) {
  return inPieces(text, [](const char* piece, int length, int* outLength) {
    char* escaped = curl().easy_escape(nullptr, piece, length);
    if (escaped != nullptr) *outLength = static_cast<int>(std::char_traits<char>::length(escaped));
    return escaped;
  });
}

std::string Url::percentDecode(std::string_view text) {
  return inPieces(text, [](const char* piece, int length, int* outLength) {
    return curl().easy_unescape(nullptr, piece, length, outLength);
  });
}

std::map<std::string, std::string> Url::queryParameters(std::string_view query) {
  std::map<std::string, std::string> parameters;
  while (!query.empty()) {
    const size_t amp = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, amp);
    query = amp < query.size() ? query.substr(amp + 1) : std::string_view();
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    const std::string_view key = pair.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
    parameters.emplace(percentDecode(key), percentDecode(value));  // the first one stays
  }
  return parameters;
}

}  // namespace zelto
