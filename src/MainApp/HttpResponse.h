// HttpResponse: the bytes of the answers the main application's servers give: an HTTP/1.1
// status line, the header fields every answer carries (Content-Type, Content-Length,
// Connection: close, Cache-Control: no-store), any extra fields, and the body. Each answer ends
// its connection, but for one made to keep it.
//
// Class operations only; any thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelto {

class HttpResponse {
 public:
  using Fields = std::vector<std::pair<std::string, std::string>>;

  // Control characters in extra field values become spaces, so a value can't end the head.
  static std::string format(int status, std::string_view contentType, std::string_view body,
                            const Fields& extraFields = {});
  // The same without "Connection: close": the client may send its next request on the
  // connection.
  static std::string formatKeepingOpen(int status, std::string_view contentType,
                                       std::string_view body, const Fields& extraFields = {});
  // The head of an answer whose body runs until the connection closes (an event stream): no
  // Content-Length, "Connection: close".
  static std::string formatOpenEnded(int status, std::string_view contentType,
                                     const Fields& extraFields = {});
  // A plain-text answer whose body is `reason` on one line.
  static std::string plain(int status, std::string_view reason);
  // "OK", "Not Found", ...; "Error" for a status it doesn't know.
  static std::string_view reasonPhrase(int status);
  // `text` with control characters (CR, LF, ...) replaced by spaces.
  static std::string oneLine(std::string_view text);
  // The field names every "Connection" field of `fields` lists (hop-by-hop, like the field
  // itself), blanks trimmed; views into `fields`.
  static std::vector<std::string_view> connectionTokens(const Fields& fields);
  // Appends "Name: value" lines of `fields`, values on one line, but for those whose names
  // (in any case) are among `dropped`.
  static void appendFields(std::string& text, const Fields& fields,
                           const std::vector<std::string_view>& dropped);
};

}  // namespace zelto
