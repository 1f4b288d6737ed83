#include "Platform/Url.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "Platform/Text.h"

namespace zelto {
namespace {

// Schemes whose URLs always name a host, as browsers read them: "http:a.com" is refused rather
// than read as a path.
constexpr std::array<std::string_view, 5> kSchemesWithHost = {"http", "https", "ws", "wss", "ftp"};

// Failure messages quote at most this much of the text.
constexpr size_t kLongestQuote = 200;

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// White space and control characters, which no URL holds as they are.
bool isSpaceOrControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte <= 0x20 || byte == 0x7F;
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

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Characters no host name holds, once its escapes are decoded.
constexpr std::string_view kNotInHost = "/:#?!@{}[]\\$'\"^`*<>=;,+&()%";

// A host as the authority writes it, read: escapes decoded, an IPv4 address in any of its
// historic forms ("0x7f.1", "2130706433") written as four decimal numbers, an IPv6 address kept
// in its brackets. Nothing when it is no host.
std::optional<std::string> readHost(std::string_view written) {
  if (written.starts_with('[')) {
    if (!written.ends_with(']')) return std::nullopt;
    std::string address(written.substr(1, written.size() - 2));
    // A zone ("fe80::1%25eth0") is not the address.
    const std::string bare = address.substr(0, address.find('%'));
    in6_addr parsed{};
    if (inet_pton(AF_INET6, bare.c_str(), &parsed) != 1) return std::nullopt;
    return std::string(written);
  }
  std::string host = Url::percentDecode(written);
  if (host.empty() || host.find_first_of(kNotInHost) != std::string::npos ||
      host.find('\0') != std::string::npos ||
      std::any_of(host.begin(), host.end(), isSpaceOrControl)) {
    return std::nullopt;
  }
  // Digits, dots and hex only, ending in a number: an IPv4 address when libc reads one.
  const bool numeric =
      host.find_first_not_of("0123456789abcdefABCDEFxX.") == std::string::npos && isDigit(host[0]);
  in_addr address{};
  if (numeric && inet_aton(host.c_str(), &address) == 1) {
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, dotted, sizeof dotted);
    return std::string(dotted);
  }
  return host;
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
        std::any_of(kSchemesWithHost.begin(), kSchemesWithHost.end(), [&](std::string_view s) {
          return Text::equalsIgnoringAsciiCase(s, *url.scheme_);
        })) {
      return failure("a " + *url.scheme_ + " URL needs a host (\"" + *url.scheme_ + "://\")");
    }
    const Tail tail = splitTail(rest);
    url.path_ = std::string(tail.path);
    if (tail.query) url.query_ = std::string(*tail.query);
    if (tail.fragment) url.fragment_ = std::string(*tail.fragment);
    return url;
  }

  // An authority, then the path, query and fragment as written.
  const std::string_view afterSlashes = rest.substr(2);
  const size_t authorityEnd = std::min(afterSlashes.find_first_of("/?#"), afterSlashes.size());
  const std::string_view authority = afterSlashes.substr(0, authorityEnd);
  const bool isFile = url.scheme_ && Text::equalsIgnoringAsciiCase(*url.scheme_, "file");
  // "http:///a.com" names no host ("a.com" is its path); only file URLs go without one.
  if (authority.empty() && !isFile) return failure("it has no host");
  // userinfo "@" host [":" port]; the last "@" ends the userinfo, as browsers read it.
  std::string_view hostAndPort = authority.substr(
      authority.rfind('@') == std::string_view::npos ? 0 : authority.rfind('@') + 1);
  const size_t bracket = hostAndPort.rfind(']');
  const size_t colon = hostAndPort.rfind(':');
  std::string_view writtenHost = hostAndPort;
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    writtenHost = hostAndPort.substr(0, colon);
    const std::string_view digits = hostAndPort.substr(colon + 1);
    if (!digits.empty()) {
      int number = 0;
      const auto [end, error] =
          std::from_chars(digits.data(), digits.data() + digits.size(), number);
      if (error != std::errc() || end != digits.data() + digits.size() || number < 0 ||
          number > 65535) {
        return failure("its port \"" + std::string(digits) + "\" is no number from 0 to 65535");
      }
      url.port_ = number;
    }
  }
  if (writtenHost.empty() || (isFile && Text::equalsIgnoringAsciiCase(writtenHost, "localhost"))) {
    // A file URL may name no host ("file:///etc"), or this machine.
    if (!isFile) return failure("it has no host");
    url.host_ = "";
  } else {
    std::optional<std::string> host = readHost(writtenHost);
    if (!host) return failure("its host \"" + std::string(writtenHost) + "\" is malformed");
    url.host_ = std::move(*host);
  }
  const Tail tail = splitTail(afterSlashes.substr(authorityEnd));
  url.path_ = std::string(tail.path);
  if (tail.query) url.query_ = std::string(*tail.query);
  if (tail.fragment) url.fragment_ = std::string(*tail.fragment);
  return url;
}

std::string Url::percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string Url::percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const int high = i + 2 < text.size() && text[i] == '%' ? hexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
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
