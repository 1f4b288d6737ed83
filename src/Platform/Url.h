// Url: one parsed URL reference (RFC 3986), with percent-encoding and query parsing.
//
// URLs with an authority ("scheme://host/..." with any scheme, and network-path references
// "//host/...") have their authority read and checked here. Other references are a path with an
// optional query and fragment, after a scheme if they begin with one: "example.com/a?b" has none,
// while "mailto:a@b.c" and "localhost:8919/x" have one ("localhost", path "8919/x"), as RFC 3986
// and browsers read them. Components are kept as written (not decoded, not case folded), except
// that the host is read (percent-escapes decoded, IPv4 addresses in their usual form: "0x7f.1"
// is "127.0.0.1"; IPv6 addresses keep their brackets). Each component knows whether it was present
// at all, so "http://a.com" (no path) and "http://a.com/" (path "/") differ, as do "x?" (empty
// query) and "x" (none).
//
// A plain value, copied freely; any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Status.h"

namespace zelto {

class Url {
 public:
  // The reference, or a failure naming the text and the reason (white space or control
  // characters inside, a bad port, an authority without host, a scheme with no authority where
  // one is needed: http, https, ws, wss and ftp URLs always name a host, ...).
  static Result<Url> parse(std::string_view text);

  // The components; nothing when absent from the text. `path` is "" when absent. A file URL
  // has the host "" when it names none ("file:///etc") or names "localhost".
  const std::optional<std::string>& scheme() const { return scheme_; }
  const std::optional<std::string>& host() const { return host_; }
  std::optional<int> port() const { return port_; }
  const std::string& path() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  const std::optional<std::string>& fragment() const { return fragment_; }
  // The whole reference, as it was parsed.
  const std::string& absoluteString() const { return text_; }

  // Every byte outside the unreserved set (ALPHA DIGIT "-" "." "_" "~") as %XX: the result is
  // safe as a query value, a path segment or a fragment, and percentDecode gives back exactly
  // the input, whatever bytes it holds.
  static std::string percentEncode(std::string_view text);
  // "%XX" sequences decoded to their bytes, whatever they are ("%00" gives a NUL byte, "+"
  // stays "+"); a "%" not followed by two hex digits is kept as it is ("%zz" stays "%zz").
  static std::string percentDecode(std::string_view text);
  // "a=1&b=x%20y" as {"a": "1", "b": "x y"}: pairs split at "&", key and value at the first
  // "=", both percent-decoded; a pair without "=" has the empty value; the first of repeated
  // keys wins; empty pairs are skipped.
  static std::map<std::string, std::string> queryParameters(std::string_view query);

 private:
  Url() = default;

  std::string text_;
  std::optional<std::string> scheme_;
  std::optional<std::string> host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

}  // namespace zelto
