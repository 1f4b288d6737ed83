// SettingsApi: the settings page's JSON API (/api/...): the status, the guard's status, which
// rule decides an address, the scheduled periods ahead, the installed applications and their
// icons, and the commands that start, stop and break blocks and edit sites, applications and
// schedules.
//
// Every answer is what `zeltoctl ... --json` prints for the same request: the commands run
// through the core's CommandSession (a fresh controller at now, under the configuration lock for
// an edit), with the same change policy, and answer 200 done, 409 refused, 400 bad input by the
// outcome's exit status. A request's JSON body is read strictly (ApiBody): an unknown key, a
// wrong type or a list too long is 400 naming it. Unknown routes are 404, a wrong method 405.
//
// Only requests that passed the page's gate (the session cookie, the origin checks, the size
// limit) reach it. Nothing here touches a socket. The loop's thread (it owns the controller).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/Blocking/InstalledApplication.h"
#include "App/Controller/Zelto.h"
#include "MainApp/BlockPage.h"

namespace zelto {

class ApiBody;

class SettingsApi {
 public:
  // The largest body taken (the server refuses larger ones before they come here).
  static constexpr size_t kMaxBodyBytes = 64 * 1024;
  // The largest icon file served.
  static constexpr uint64_t kMaxIconBytes = 1024 * 1024;

  // `live`: the application's own controller (for status); `installed`: lists the installed
  // applications. Both must outlive this.
  SettingsApi(Zelto& live, std::function<std::vector<InstalledApplication>()> installed);

  // One request that passed the gate: method "GET"/"POST", target "/api/...?query", body (POST).
  HttpAnswer answer(std::string_view method, std::string_view target, std::string_view body);
  // What GET /api/status answers, for the event stream: `zeltoctl status --json`, or
  // {"error": ...} when the configuration can't be loaded.
  nlohmann::json status();

 private:
  HttpAnswer get(const std::string& path, std::string_view query);
  HttpAnswer post(const std::string& path, ApiBody& body);
  HttpAnswer installedApplications();
  HttpAnswer icon(const std::string& number);

  Zelto& live_;
  std::function<std::vector<InstalledApplication>()> installed_;
  // The icon files of the latest listing, by their place in it (nothing for an entry without).
  std::vector<std::optional<std::string>> iconFiles_;
};

}  // namespace zelto
