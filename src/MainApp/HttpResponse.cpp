#include "MainApp/HttpResponse.h"

namespace zelto {

std::string_view HttpResponse::reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
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
    case 414:
      return "URI Too Long";
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

std::string HttpResponse::oneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return line;
}

std::string HttpResponse::format(int status, std::string_view contentType, std::string_view body,
                                 const Fields& extraFields) {
  std::string text =
      "HTTP/1.1 " + std::to_string(status) + ' ' + std::string(reasonPhrase(status)) + "\r\n";
  text += "Content-Type: " + oneLine(contentType) + "\r\n";
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  for (const auto& [name, value] : extraFields) text += name + ": " + oneLine(value) + "\r\n";
  text += "Connection: close\r\nCache-Control: no-store\r\n\r\n";
  text += body;
  return text;
}

std::string HttpResponse::plain(int status, std::string_view reason) {
  return format(status, "text/plain; charset=utf-8", oneLine(reason) + "\n");
}

}  // namespace zelto
