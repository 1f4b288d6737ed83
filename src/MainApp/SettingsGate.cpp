#include "MainApp/SettingsGate.h"

#include <utility>

#include "App/Data/ZeltoDefaults.h"
#include "Platform/JsonText.h"
#include "Platform/Log.h"
#include "Platform/Text.h"

namespace zelto {

namespace {

constexpr std::string_view kJsonType = "application/json; charset=utf-8";

// Equal texts, in a time that depends on their lengths alone.
bool sameSecret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of `name` in a list of "name=value" pairs split by `separator`.
std::optional<std::string_view> valueIn(std::string_view list, char separator,
                                        std::string_view name) {
  while (!list.empty()) {
    const size_t end = list.find(separator);
    const std::string_view pair = trimmed(list.substr(0, end));
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name) {
      return pair.substr(equals + 1);
    }
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
  }
  return std::nullopt;
}

const std::string kExpiredPage =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<title>Zelto settings</title>\n</head>\n<body>\n<h1>This link no longer opens the "
    "settings</h1>\n<p>Each link from <code>zeltoctl open</code> works once, within two minutes. "
    "Run <code>zeltoctl open</code> again.</p>\n</body>\n</html>\n";

}  // namespace

SettingsGate::SettingsGate(PageTokens& tokens, FileSystem& fs, std::string webFolder, Api api,
                           StatusSource status)
    : tokens_(tokens),
      fs_(fs),
      webFolder_(std::move(webFolder)),
      api_(std::move(api)),
      status_(std::move(status)) {}

const HttpResponse::Fields& SettingsGate::securityFields() {
  static const HttpResponse::Fields fields = {
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy",
       "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; "
       "form-action 'self'"},
  };
  return fields;
}

std::optional<std::string> SettingsGate::bundleWebFolder() {
  auto bundle = ZeltoDefaults::getZeltoApplicationPath();
  if (!bundle) return std::nullopt;
  return *bundle + "/Contents/Resources/web";
}

HttpAnswer SettingsGate::secured(HttpAnswer answer) {
  std::erase_if(answer.fields, [](const auto& field) {
    return Text::equalsIgnoringAsciiCase(field.first.substr(0, 15), "Access-Control-");
  });
  const HttpResponse::Fields& security = securityFields();
  answer.fields.insert(answer.fields.end(), security.begin(), security.end());
  return answer;
}

HttpAnswer SettingsGate::error(int status, const std::string& message) {
  // The message may quote request bytes that are no UTF-8.
  return {status, std::string(kJsonType),
          nlohmann::json{{"error", message}}.dump(-1, ' ', false,
                                                  nlohmann::json::error_handler_t::replace) +
              "\n"};
}

std::optional<HttpAnswer> SettingsGate::answer(const HttpRequestHead& head,
                                               const std::string& body) {
  const std::string_view target = head.target;
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path.starts_with("/api/")) return secured(apiAnswer(head, path, body));
  struct Served {
    std::string_view path, file, type;
  };
  static constexpr Served kFiles[] = {
      {"/", "index.html", "text/html; charset=utf-8"},
      {"/app.css", "app.css", "text/css; charset=utf-8"},
      {"/app.js", "app.js", "text/javascript; charset=utf-8"},
      {"/zelto.svg", "zelto.svg", "image/svg+xml"},
  };
  for (const Served& served : kFiles) {
    if (path != served.path) continue;
    if (head.method != "GET") return secured({405, "text/plain; charset=utf-8", "GET only.\n"});
    return secured(file(served.file, served.type));
  }
  if (path == "/session") {
    if (head.method != "GET") return secured({405, "text/plain; charset=utf-8", "GET only.\n"});
    return secured(session(query));
  }
  return std::nullopt;
}

HttpAnswer SettingsGate::file(std::string_view name, std::string_view contentType) const {
  const std::string path = path::appendingComponent(webFolder_, std::string(name));
  auto bytes = fs_.readFile(path, kMaxFileBytes);
  if (!bytes.ok()) {
    log::warning("The settings page can't serve {}: {}", path, bytes.status().message());
    return {404, "text/plain; charset=utf-8", "Not found.\n"};
  }
  return {200, std::string(contentType), std::move(*bytes)};
}

HttpAnswer SettingsGate::session(std::string_view query) {
  const std::optional<std::string_view> token = valueIn(query, '&', "token");
  if (!token || !tokens_.redeem(*token)) {
    return {403, "text/html; charset=utf-8", kExpiredPage};
  }
  if (!secret_) {
    Result<std::string> secret = tokens_.sessionSecret();
    if (!secret.ok()) {
      log::error("The settings page has no session secret: {}", secret.status().message());
      return {500, "text/plain; charset=utf-8",
              "Zelto can't keep a session: " + secret.status().message() + "\n"};
    }
    secret_ = std::move(*secret);
  }
  HttpAnswer answer{303, "text/plain; charset=utf-8", "Opening the settings.\n"};
  answer.fields = {{"Location", "/"},
                   {"Set-Cookie", std::string(kCookieName) + "=" + *secret_ +
                                      "; Path=/; HttpOnly; SameSite=Strict"}};
  return answer;
}

bool SettingsGate::hasSession(const HttpRequestHead& head) {
  if (!secret_) {
    // A session of an earlier run of the application is still good.
    Result<std::string> secret = tokens_.sessionSecret();
    if (!secret.ok()) {
      log::error("The settings page has no session secret: {}", secret.status().message());
      return false;
    }
    secret_ = std::move(*secret);
  }
  for (const auto& [name, value] : head.headers) {
    if (!Text::equalsIgnoringAsciiCase(name, "Cookie")) continue;
    if (auto cookie = valueIn(value, ';', kCookieName); cookie && sameSecret(*cookie, *secret_)) {
      return true;
    }
  }
  return false;
}

HttpAnswer SettingsGate::apiAnswer(const HttpRequestHead& head, std::string_view path,
                                   const std::string& body) {
  if (!hasSession(head)) {
    return error(403, "No settings session: run \"zeltoctl open\" to open the settings page.");
  }
  if (auto site = head.header("Sec-Fetch-Site");
      site && *site != "same-origin" && *site != "none") {
    return error(
        403, "Requests from other sites (Sec-Fetch-Site: " + std::string(*site) + ") are refused.");
  }
  if (head.method == "POST") {
    const auto origin = head.header("Origin");
    const auto host = head.header("Host");
    if (!origin || !host || *origin != "http://" + std::string(*host)) {
      return error(403, "The request's Origin (" + std::string(origin.value_or("none")) +
                            ") is not this page's.");
    }
    const std::string_view type = head.header("Content-Type").value_or("");
    if (!Text::equalsIgnoringAsciiCase(trimmed(type.substr(0, type.find(';'))),
                                       "application/json")) {
      return error(415, "The body must be application/json, not \"" + std::string(type) + "\".");
    }
    Result<nlohmann::json> json = JsonText::parse(body, 64);
    if (!json.ok()) return error(400, "The body is no JSON: " + json.status().message());
    if (!json->is_object()) return error(400, "The body must be a JSON object.");
  } else if (head.method != "GET") {
    return error(405, head.method + " is not answered here; use GET or POST.");
  }
  const std::string_view target = head.target;
  if (path == "/api/events") {
    if (head.method != "GET") return error(405, "The event stream is read with GET.");
    HttpAnswer stream{200, "text/event-stream; charset=utf-8", statusEvent()};
    stream.stream = true;
    return stream;
  }
  return api_(head.method, target, body);
}

std::string SettingsGate::statusEvent(bool changed) const {
  std::string events = changed ? "event: changed\ndata: {}\n\n" : "";
  nlohmann::json status = status_ ? status_() : nlohmann::json::object();
  events += "event: status\ndata: " +
            status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
  return events;
}

}  // namespace zelto
