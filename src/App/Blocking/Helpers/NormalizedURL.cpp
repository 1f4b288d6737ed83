#include "App/Blocking/Helpers/NormalizedURL.h"

#include <fmt/format.h>
#include <unicode/uidna.h>
#include <uriparser/Uri.h>

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <optional>

namespace zelto {
namespace {

// How much of a rejected input a failure quotes.
constexpr size_t kMostQuoted = 200;
constexpr std::string_view kHexDigits = "0123456789ABCDEF";
// What ICU reports that browsers accept: empty labels, lengths beyond DNS's, and hyphens
// anywhere (their conversion doesn't check hyphens or lengths).
constexpr uint32_t kIgnoredIdnaErrors =
    UIDNA_ERROR_EMPTY_LABEL | UIDNA_ERROR_LABEL_TOO_LONG | UIDNA_ERROR_DOMAIN_NAME_TOO_LONG |
    UIDNA_ERROR_LEADING_HYPHEN | UIDNA_ERROR_TRAILING_HYPHEN | UIDNA_ERROR_HYPHEN_3_4;

bool isControlOrSpace(unsigned char c) { return c <= 0x20 || c == 0x7F; }

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

bool isUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// An escape "%XX" at `at`.
bool isEscapeAt(std::string_view text, size_t at) {
  return at + 2 < text.size() && text[at] == '%' && isHexDigit(text[at + 1]) &&
         isHexDigit(text[at + 2]);
}

void appendEscaped(std::string& out, unsigned char c) {
  out += '%';
  out += kHexDigits[c >> 4];
  out += kHexDigits[c & 0xF];
}

std::string asciiLowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// `text` quoted for a failure's reason: cut short, with control bytes, quotes and backslashes
// escaped.
std::string inQuotes(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size() && i < kMostQuoted; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > kMostQuoted) out += "...";
  out += '"';
  return out;
}

// Too long, or a space or control byte: `what` names the kind of input.
Status checkBytes(std::string_view text, std::string_view what) {
  if (text.size() > NormalizedURL::kMaxLength) {
    return Status::failure(std::string(what) + " too long (" + std::to_string(text.size()) +
                           " bytes, at most " + std::to_string(NormalizedURL::kMaxLength) +
                           "): " + inQuotes(text));
  }
  for (size_t i = 0; i < text.size(); ++i) {
    if (isControlOrSpace(static_cast<unsigned char>(text[i]))) {
      return Status::failure("space or control byte at byte " + std::to_string(i) + " of " +
                             std::string(what) + ": " + inQuotes(text));
    }
  }
  return Status::success();
}

// Every "%XX" decoded.
std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (isEscapeAt(text, i)) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// ICU's UTS #46 converter, made once; nothing when ICU can't make it.
const UIDNA* idna() {
  static const std::unique_ptr<UIDNA, void (*)(UIDNA*)> converter = [] {
    UErrorCode error = U_ZERO_ERROR;
    UIDNA* made = uidna_openUTS46(
        UIDNA_NONTRANSITIONAL_TO_ASCII | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ, &error);
    if (U_FAILURE(error)) made = nullptr;
    return std::unique_ptr<UIDNA, void (*)(UIDNA*)>(made, [](UIDNA* p) {
      if (p != nullptr) uidna_close(p);
    });
  }();
  return converter.get();
}

// One part of an IPv4 address read as browsers read it: decimal, "0x" hexadecimal or "0"
// octal. Values past 2^32 stay at a bound past it (every such part fails).
std::optional<uint64_t> ipv4Number(std::string_view part) {
  if (part.empty()) return std::nullopt;
  unsigned radix = 10;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    radix = 16;
    part.remove_prefix(2);
  } else if (part.size() >= 2 && part[0] == '0') {
    radix = 8;
    part.remove_prefix(1);
  }
  constexpr uint64_t kBound = uint64_t{1} << 40;
  uint64_t value = 0;
  for (char c : part) {
    if (!isHexDigit(c)) return std::nullopt;
    const unsigned digit = hexValue(c);
    if (digit >= radix) return std::nullopt;
    value = std::min(value * radix + digit, kBound);
  }
  return value;
}

// The host's last label is a number (decimal, or "0x" and hexadecimal): the host must then be
// an IPv4 address.
bool endsInANumber(std::string_view host) {
  const size_t dot = host.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? host : host.substr(dot + 1);
  if (last.empty()) return false;
  if (last.find_first_not_of("0123456789") == std::string_view::npos) return true;
  return last.size() >= 2 && last[0] == '0' && last[1] == 'x' && ipv4Number(last).has_value();
}

// An IPv4 address of one to four parts, in dotted decimal; nothing when it is none.
std::optional<std::string> parseIpv4(std::string_view host) {
  std::array<uint64_t, 4> numbers{};
  size_t count = 0;
  for (size_t from = 0;;) {
    const size_t dot = host.find('.', from);
    const std::string_view part = host.substr(from, dot - from);
    if (count == numbers.size()) return std::nullopt;
    std::optional<uint64_t> number = ipv4Number(part);
    if (!number) return std::nullopt;
    numbers[count++] = *number;
    if (dot == std::string_view::npos) break;
    from = dot + 1;
  }
  uint64_t address = numbers[count - 1];
  if (address >= (uint64_t{1} << (8 * (5 - count)))) return std::nullopt;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (numbers[i] > 255) return std::nullopt;
    address += numbers[i] << (8 * (3 - i));
  }
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// Lower-case hexadecimal pieces, the first longest run of two or more zero pieces as "::".
std::string ipv6Text(const unsigned char (&bytes)[16]) {
  std::array<unsigned, 8> pieces{};
  for (size_t i = 0; i < 8; ++i) pieces[i] = bytes[2 * i] << 8 | bytes[2 * i + 1];
  size_t runStart = 8, runLength = 1;
  for (size_t i = 0; i < 8;) {
    size_t j = i;
    while (j < 8 && pieces[j] == 0) ++j;
    if (j - i > runLength) {
      runStart = i;
      runLength = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  static constexpr std::string_view kLower = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < 8; ++i) {
    if (i == runStart) {
      out += i == 0 ? "::" : ":";
      i += runLength - 1;
      continue;
    }
    const unsigned piece = pieces[i];
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (piece >> shift) & 0xF;
      if (digit == 0 && !started && shift != 0) continue;
      started = true;
      out += kLower[digit];
    }
    if (i != 7) out += ':';
  }
  return out;
}

// How an authority is used: in a URL (userinfo and port allowed), in CONNECT (a port
// required, no userinfo) or as a bare host (neither).
enum class AuthorityForm { kUrl, kConnect, kHostOnly };

struct Authority {
  std::string host;
  int port = 0;  // none
  bool isIpv6 = false;
  bool isIpLiteral = false;
};

// uriparser's parse, freed when done with.
class UriParse {
 public:
  UriParse() = default;
  ~UriParse() {
    if (parsed_) uriFreeUriMembersA(&uri_);
  }
  UriParse(const UriParse&) = delete;
  UriParse& operator=(const UriParse&) = delete;

  bool parse(const std::string& text) {
    const char* errorPos = nullptr;
    parsed_ = uriParseSingleUriExA(&uri_, text.data(), text.data() + text.size(), &errorPos) ==
              URI_SUCCESS;
    return parsed_;
  }
  const UriUriA& uri() const { return uri_; }

 private:
  UriUriA uri_{};
  bool parsed_ = false;
};

std::string_view range(const UriTextRangeA& range) {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return std::string_view(range.first, static_cast<size_t>(range.afterLast - range.first));
}

// A host name (percent-decoded) as a lower-case ASCII name or a dotted-decimal IPv4 address.
Result<Authority> readHostName(std::string_view name) {
  Result<std::string> ascii = NormalizedURL::domainToASCII(name);
  if (!ascii.ok()) return ascii.status();
  std::string host = std::move(*ascii);
  while (host.ends_with('.')) host.pop_back();
  if (host.empty()) return Status::failure("empty host");
  if (!endsInANumber(host)) return Authority{.host = std::move(host)};
  std::optional<std::string> address = parseIpv4(host);
  if (!address) return Status::failure("not a valid IPv4 address");
  return Authority{.host = std::move(*address), .isIpLiteral = true};
}

// The host and port of `authority`, part of `input` (which a failure names).
Result<Authority> readAuthority(std::string_view authority, std::string_view input,
                                AuthorityForm form) {
  auto failure = [&](std::string_view kind, std::string_view cause) {
    return Status::failure(std::string(kind) + " in " + inQuotes(input) + ": " +
                           std::string(cause));
  };
  if (authority.find('\\') != std::string_view::npos) {
    return failure("invalid host", "a backslash in the authority");
  }
  if (form != AuthorityForm::kUrl && authority.find_first_of("/?#") != std::string_view::npos) {
    return failure("invalid host", "a path, query or fragment after the host");
  }
  const size_t at = authority.rfind('@');
  if (form != AuthorityForm::kUrl && at != std::string_view::npos) {
    return failure("invalid host", "user information before the host");
  }

  // The port, checked first for a clearer reason than a syntax error.
  const std::string_view hostPort =
      at == std::string_view::npos ? authority : authority.substr(at + 1);
  size_t colon = std::string_view::npos;
  if (hostPort.starts_with('[')) {
    const size_t close = hostPort.find(']');
    if (close != std::string_view::npos && close + 1 < hostPort.size()) colon = close + 1;
  } else {
    colon = hostPort.find(':');
  }
  const std::string_view portText =
      colon == std::string_view::npos ? std::string_view() : hostPort.substr(colon + 1);
  if (colon != std::string_view::npos &&
      (hostPort[colon] != ':' ||
       portText.find_first_not_of("0123456789") != std::string_view::npos)) {
    return failure("bad port", "\"" + std::string(hostPort.substr(colon)) + "\" after the host");
  }
  if (form == AuthorityForm::kConnect && portText.empty()) {
    return failure("bad port", "a port is required");
  }
  if (form == AuthorityForm::kHostOnly && colon != std::string_view::npos) {
    return failure("invalid host", "a port after the host");
  }

  // uriparser takes RFC 3986's characters only: the others (raw non-ASCII bytes among them,
  // and a "%" that begins no escape) are escaped for it, and decoded again in the host.
  std::string text = "http://";
  text.reserve(authority.size() * 3 + 8);
  for (size_t i = 0; i < authority.size(); ++i) {
    const auto c = static_cast<unsigned char>(authority[i]);
    if (c >= 0x80 ||
        std::string_view("\"<>^`{|}").find(static_cast<char>(c)) != std::string_view::npos ||
        (c == '%' && !isEscapeAt(authority, i))) {
      appendEscaped(text, c);
    } else {
      text += static_cast<char>(c);
    }
  }
  text += '/';
  UriParse parsed;
  if (!parsed.parse(text)) return failure("invalid host", "malformed authority");
  const UriUriA& uri = parsed.uri();

  Authority result;
  if (uri.hostData.ipFuture.first != nullptr) {
    return failure("invalid host", "an address of an unknown IP version");
  } else if (uri.hostData.ip6 != nullptr) {
    const unsigned char(&bytes)[16] = uri.hostData.ip6->data;
    static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(std::begin(kMapped), std::end(kMapped), bytes)) {
      // An IPv4-mapped address reaches the IPv4 host: it is that host, for deciding too.
      result.host = std::to_string(bytes[12]) + "." + std::to_string(bytes[13]) + "." +
                    std::to_string(bytes[14]) + "." + std::to_string(bytes[15]);
      result.isIpLiteral = true;
    } else {
      result.host = ipv6Text(bytes);
      result.isIpv6 = result.isIpLiteral = true;
    }
  } else {
    const std::string name = percentDecoded(range(uri.hostText));
    Result<Authority> host = readHostName(name);
    if (!host.ok()) {
      return failure("invalid host " + inQuotes(name), host.status().message());
    }
    result = std::move(*host);
  }

  const std::string_view port = range(uri.portText);
  if (!port.empty()) {
    const size_t significant = std::min(port.find_first_not_of('0'), port.size());
    const std::string_view digits = port.substr(significant);
    const int value = digits.empty() || digits.size() > 5 ? 0 : std::stoi(std::string(digits));
    if (value < 1 || value > 65535) {
      return failure("bad port \"" + std::string(port) + "\"", "not from 1 to 65535");
    }
    result.port = value;
  }
  return result;
}

// The path with escapes of unreserved characters decoded (others upper-cased), raw non-ASCII
// bytes escaped, "\" read as "/", repeated "/" collapsed and dot segments resolved. Linear: a
// ".." takes back only what its segment's predecessor added.
std::string normalizedPath(std::string_view path) {
  std::string bytes;
  bytes.reserve(path.size() + 8);
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (isEscapeAt(path, i)) {
      const auto decoded =
          static_cast<unsigned char>(hexValue(path[i + 1]) * 16 + hexValue(path[i + 2]));
      if (isUnreserved(decoded)) {
        bytes += static_cast<char>(decoded);
      } else {
        appendEscaped(bytes, decoded);
      }
      i += 2;
    } else if (c == '\\') {
      bytes += '/';
    } else if (c >= 0x80) {
      appendEscaped(bytes, c);
    } else {
      bytes += static_cast<char>(c);
    }
  }

  std::string out;
  out.reserve(bytes.size() + 1);
  bool trailingSlash = true;
  for (size_t from = 0; from <= bytes.size();) {
    size_t end = bytes.find('/', from);
    if (end == std::string::npos) end = bytes.size();
    const std::string_view segment = std::string_view(bytes).substr(from, end - from);
    if (segment.empty() || segment == ".") {
      trailingSlash = true;
    } else if (segment == "..") {
      const size_t slash = out.rfind('/');
      out.resize(slash == std::string::npos ? 0 : slash);
      trailingSlash = true;
    } else {
      out += '/';
      out += segment;
      trailingSlash = false;
    }
    from = end + 1;
  }
  if (out.empty() || trailingSlash) out += '/';
  return out;
}

}  // namespace

Result<std::string> NormalizedURL::domainToASCII(std::string_view domain) {
  if (domain.size() > kMaxLength) return Status::failure("domain name too long");
  const UIDNA* converter = idna();
  if (converter == nullptr) return Status::failure("international domain names unavailable");
  std::string out(domain.size() * 2 + 64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode error = U_ZERO_ERROR;
    UIDNAInfo info = UIDNA_INFO_INITIALIZER;
    const int32_t length =
        uidna_nameToASCII_UTF8(converter, domain.data(), static_cast<int32_t>(domain.size()),
                               out.data(), static_cast<int32_t>(out.size()), &info, &error);
    if (error == U_BUFFER_OVERFLOW_ERROR && attempt == 0) {
      out.assign(static_cast<size_t>(length), '\0');
      continue;
    }
    if (U_FAILURE(error)) {
      return Status::failure(std::string("not a domain name (") + u_errorName(error) + ")");
    }
    if ((info.errors & ~kIgnoredIdnaErrors) != 0) {
      return Status::failure("not a valid international domain name");
    }
    out.resize(static_cast<size_t>(length));
    break;
  }
  for (char c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (isControlOrSpace(byte) || byte >= 0x80 ||
        std::string_view("#%/:<>?@[\\]^|").find(c) != std::string_view::npos) {
      return Status::failure(fmt::format("the character \"{}\" is not allowed in a host", c));
    }
  }
  return out;
}

Result<NormalizedURL> NormalizedURL::parse(std::string_view text) {
  if (Status status = checkBytes(text, "URL"); !status.ok()) return status;
  const size_t colon = text.find(':');
  std::string scheme =
      colon == std::string_view::npos ? std::string() : asciiLowercase(text.substr(0, colon));
  if (scheme == "ws") scheme = "http";
  if (scheme == "wss") scheme = "https";
  if ((scheme != "http" && scheme != "https") || text.substr(colon + 1, 2) != "//") {
    return Status::failure("not an http or https URL: " + inQuotes(text));
  }
  const size_t authorityBegin = colon + 3;
  size_t authorityEnd = text.find_first_of("/?#", authorityBegin);
  if (authorityEnd == std::string_view::npos) authorityEnd = text.size();

  Result<Authority> authority = readAuthority(
      text.substr(authorityBegin, authorityEnd - authorityBegin), text, AuthorityForm::kUrl);
  if (!authority.ok()) return authority.status();
  NormalizedURL url;
  url.scheme_ = std::move(scheme);
  url.host_ = std::move(authority->host);
  url.isIpv6_ = authority->isIpv6;
  url.isIpLiteral_ = authority->isIpLiteral;
  url.port_ = authority->port != 0 ? authority->port : url.defaultPort();

  const std::string_view rest = text.substr(authorityEnd);
  const std::string_view target = rest.substr(0, rest.find('#'));
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question);
  url.requestTarget_ = path.empty() ? "/" + std::string(target) : std::string(target);
  url.decisionPathAndQuery_ = normalizedPath(path);
  url.decisionPathAndQuery_ += query;
  url.updateDecisionURL();
  return url;
}

Result<NormalizedURL> NormalizedURL::parseAuthority(std::string_view authority) {
  if (Status status = checkBytes(authority, "CONNECT authority"); !status.ok()) return status;
  if (authority.empty()) return Status::failure("invalid host: empty CONNECT authority");
  Result<Authority> read = readAuthority(authority, authority, AuthorityForm::kConnect);
  if (!read.ok()) return read.status();
  NormalizedURL url;
  url.scheme_ = "https";
  url.host_ = std::move(read->host);
  url.isIpv6_ = read->isIpv6;
  url.isIpLiteral_ = read->isIpLiteral;
  url.port_ = read->port;
  url.requestTarget_ = "/";
  url.decisionPathAndQuery_ = "/";
  url.updateDecisionURL();
  return url;
}

std::string NormalizedURL::authority() const {
  std::string out = isIpv6_ ? "[" + host_ + "]" : host_;
  if (!hasDefaultPort()) out += ":" + std::to_string(port_);
  return out;
}

void NormalizedURL::updateDecisionURL() {
  decisionURL_ = scheme_ + "://" + authority() + decisionPathAndQuery_;
}

NormalizedURL NormalizedURL::withHost(std::string_view host) const {
  if (!checkBytes(host, "host").ok() || host.empty()) return *this;
  const bool bareIpv6 = !host.starts_with('[') && host.find(':') != std::string_view::npos;
  const std::string text = bareIpv6 ? "[" + std::string(host) + "]" : std::string(host);
  Result<Authority> read = readAuthority(text, host, AuthorityForm::kHostOnly);
  if (!read.ok()) return *this;
  NormalizedURL url = *this;
  url.host_ = std::move(read->host);
  url.isIpv6_ = read->isIpv6;
  url.isIpLiteral_ = read->isIpLiteral;
  url.updateDecisionURL();
  return url;
}

}  // namespace zelto
