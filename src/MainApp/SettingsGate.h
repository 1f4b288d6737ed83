// SettingsGate: the settings page's side of the block page server: its static files, the
// redemption of the one-time tokens zeltoctl mints (PageTokens) for a session cookie, and the
// checks every /api/ request passes before the API sees it.
//
// Served: GET of "/" (index.html), "/app.css", "/app.js" and "/zelto.svg" from the web folder
// (the bundle's Contents/Resources/web), and GET "/session?token=T": a token good once and for
// two minutes answers 303 to "/" with the session cookie (HttpOnly, SameSite=Strict), anything
// else a 403 page. An /api/ request passes with the session cookie (compared in constant time),
// a Sec-Fetch-Site of "same-origin" or "none" (or none at all), and, for a POST, an Origin that
// names the request's own Host, a JSON content type (else 415) and a body that is a JSON object
// (else 400); failing any of them is 403 (or that status) with {"error": "..."}. What passes goes
// to the API, but /api/events, which opens an event stream starting with a status event. Every
// answer carries the security fields (securityFields) and never an Access-Control-* field.
//
// Ownership: the application's delegate owns it; the tokens and file system outlive it.
// Threads: the main loop's.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "App/Data/PageTokens.h"
#include "MainApp/BlockPage.h"
#include "MainApp/HttpRequestParser.h"
#include "MainApp/HttpResponse.h"
#include "Platform/FileSystem.h"

namespace zelto {

class SettingsGate {
 public:
  // An API request that passed: method ("GET" or "POST"), target ("/api/status?x=y"), body.
  using Api = std::function<HttpAnswer(std::string_view method, std::string_view target,
                                       std::string_view body)>;
  // What /api/status answers, for the event streams.
  using StatusSource = std::function<nlohmann::json()>;

  static constexpr const char* kCookieName = "zelto_session";
  static constexpr uint64_t kMaxFileBytes = 1024 * 1024;

  SettingsGate(PageTokens& tokens, FileSystem& fs, std::string webFolder, Api api,
               StatusSource status);

  // The answer to a request for the settings page, or nothing when it is none of its own (the
  // block page and the PAC file answer those). `head.method` is "GET" for HEAD.
  std::optional<HttpAnswer> answer(const HttpRequestHead& head, const std::string& body);

  // A status event for the streams; with `changed`, a "changed" event before it.
  std::string statusEvent(bool changed = false) const;

  static const HttpResponse::Fields& securityFields();
  // The bundle's web folder: Contents/Resources/web of the application's bundle.
  static std::optional<std::string> bundleWebFolder();

 private:
  HttpAnswer apiAnswer(const HttpRequestHead& head, std::string_view path, const std::string& body);
  HttpAnswer session(std::string_view query);
  HttpAnswer file(std::string_view name, std::string_view contentType) const;
  bool hasSession(const HttpRequestHead& head);
  static HttpAnswer error(int status, const std::string& message);
  static HttpAnswer secured(HttpAnswer answer);

  PageTokens& tokens_;
  FileSystem& fs_;
  std::string webFolder_;
  Api api_;
  StatusSource status_;
  std::optional<std::string> secret_;  // read (or made) on first need
};

}  // namespace zelto
