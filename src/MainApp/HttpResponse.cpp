#include "MainApp/HttpResponse.h"

#include <algorithm>
#include <cctype>

#include "MainApp/HttpRequestParser.h"
#include "Platform/Text.h"

namespace zelto {

std::string_view HttpResponse::reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 421:
      return "Misdirected Request";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Error";
  }
}

std::vector<std::string_view> HttpResponse::connectionTokens(const Fields& fields) {
  auto trim = [](std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
  };
  std::vector<std::string_view> tokens;
  for (const auto& [name, value] : fields) {
    if (!Text::equalsIgnoringAsciiCase(name, "connection")) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view token = trim(rest.substr(0, comma));
      if (!token.empty()) tokens.push_back(token);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }
  return tokens;
}

std::string HttpResponse::oneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return line;
}

namespace {

std::string formatted(int status, std::string_view contentType, std::string_view body,
                      const HttpResponse::Fields& extraFields, bool close, bool sized = true) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + ' ' +
                     std::string(HttpResponse::reasonPhrase(status)) + "\r\n";
  text += "Content-Type: " + HttpResponse::oneLine(contentType) + "\r\n";
  if (sized) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  for (const auto& [name, value] : extraFields) {
    text += name + ": " + HttpResponse::oneLine(value) + "\r\n";
  }
  if (close) text += "Connection: close\r\n";
  text += "Cache-Control: no-store\r\n\r\n";
  text += body;
  return text;
}

}  // namespace

std::string HttpResponse::format(int status, std::string_view contentType, std::string_view body,
                                 const Fields& extraFields) {
  return formatted(status, contentType, body, extraFields, true);
}

std::string HttpResponse::formatKeepingOpen(int status, std::string_view contentType,
                                            std::string_view body, const Fields& extraFields) {
  return formatted(status, contentType, body, extraFields, false);
}

std::string HttpResponse::formatOpenEnded(int status, std::string_view contentType,
                                          const Fields& extraFields) {
  return formatted(status, contentType, "", extraFields, true, false);
}

void HttpResponse::appendFields(std::string& text, const Fields& fields,
                                const std::vector<std::string_view>& dropped) {
  for (const auto& field : fields) {
    if (std::any_of(dropped.begin(), dropped.end(), [&](std::string_view hop) {
          return Text::equalsIgnoringAsciiCase(field.first, hop);
        })) {
      continue;
    }
    text += field.first + ": " + oneLine(field.second) + "\r\n";
  }
}

std::string HttpResponse::plain(int status, std::string_view reason) {
  return format(status, "text/plain; charset=utf-8", oneLine(reason) + "\n");
}

}  // namespace zelto
