// NormalizedURL: one URL of a proxied request, parsed once, in the form the filter decides on.
//
// A proxy's request line carries an absolute URL ("http://host/path") or, for CONNECT, an
// authority ("host:443"). Parsed here (the authority by uriparser), it yields what to connect
// to (host and port), what to forward (the origin-form target, as sent) and what to decide on:
// one canonical text, so that spellings a server reads alike can't slip past a site pattern.
// In that text:
//  - the scheme is "http" or "https" (ws and wss read as these), lower-cased;
//  - the userinfo is gone, the host is lower-case ASCII (an international name in its
//    punycode form, by UTS #46 as browsers apply it), without trailing dots; an IPv4 address
//    in any of the forms browsers accept ("3221225986", "0xc0.0.2.2", "192.0.514") reads as
//    dotted decimal, an IPv6 address in its canonical form; the scheme's default port is left
//    out;
//  - the path has repeated "/" collapsed, "." and ".." segments resolved (also when written
//    "%2e"), "\" read as "/", percent-encoded unreserved characters (letters, digits, "-",
//    ".", "_", "~") decoded, other escapes upper-cased and raw non-ASCII bytes escaped;
//  - the query follows as sent; the fragment is dropped.
// For example "HTTP://User:pw@Bücher.Test.:80//a/./b/%66oo?x#f" is decided as
// "http://xn--bcher-kva.test/a/b/foo?x".
//
// Hostile input fails with a reason that names it (cut short, control bytes escaped): texts
// over kMaxLength bytes, spaces and control bytes anywhere, other schemes, empty or invalid
// hosts, ports outside 1..65535, userinfo or a path in a CONNECT authority. The work is linear
// in the input and nothing recurses on its structure.
//
// A plain immutable value; any thread (ICU's converter is shared, and safe to share).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Platform/Status.h"

namespace zelto {

class NormalizedURL {
 public:
  // The longest text accepted, in bytes: a request line's target is at most this long.
  static constexpr size_t kMaxLength = 8192;

  // An absolute http:// or https:// URL as a proxy's request line carries it (also ws://
  // and wss://, which read as http and https, ports 80 and 443).
  static Result<NormalizedURL> parse(std::string_view text);
  // A CONNECT request's authority "host:port" (the port required, an IPv6 address in
  // brackets); decided as "https://host[:port]/". Its request target is "/".
  static Result<NormalizedURL> parseAuthority(std::string_view authority);

  // A domain name in its ASCII form by UTS #46 (non-transitional, as browsers convert): lower
  // case, international labels in punycode. Labels are taken as they are: no IPv4 reading, no
  // dots removed. A failure for names that are not allowed (disallowed characters, bad
  // punycode, a character forbidden in hosts such as "/" or "%").
  static Result<std::string> domainToASCII(std::string_view domain);

  // Lower-case: "http" or "https".
  const std::string& scheme() const { return scheme_; }
  // Lower-case ASCII, no trailing dot; an IPv6 address without brackets.
  const std::string& host() const { return host_; }
  // The explicit port, else the scheme's default.
  int port() const { return port_; }
  bool hasDefaultPort() const { return port_ == defaultPort(); }
  // An IPv4 or IPv6 address rather than a name.
  bool isIpLiteral() const { return isIpLiteral_; }
  // The host (bracketed when IPv6), and ":port" unless it is the scheme's default: for the
  // Host field and for display.
  std::string authority() const;
  // What to forward as the origin-form target: the path as sent ("/" when empty), and "?" and
  // the query when there is one; never the fragment. Holds no space or control byte.
  const std::string& requestTarget() const { return requestTarget_; }
  // What is decided: scheme, "://", authority(), the normalised path and "?query" as sent.
  const std::string& decisionURL() const { return decisionURL_; }

  // The same URL naming `host` (a host name or address, normalised like a parsed one): for
  // deciding an address under the names that resolve to it. A host that isn't valid (names
  // come from the network too) leaves the URL as it is: deciding it again is never wrong.
  NormalizedURL withHost(std::string_view host) const;

 private:
  NormalizedURL() = default;
  int defaultPort() const { return scheme_ == "https" ? 443 : 80; }
  void updateDecisionURL();

  std::string scheme_;
  std::string host_;
  int port_ = 0;
  bool isIpLiteral_ = false;
  bool isIpv6_ = false;
  std::string requestTarget_;
  // The normalised path and the query: the decision URL after its authority.
  std::string decisionPathAndQuery_;
  std::string decisionURL_;
};

}  // namespace zelto
