#include "Tools/zeltoctl/PortCommand.h"

#include <fmt/format.h>

#include <memory>
#include <tuple>

#include "App/Commands/BlockState.h"
#include "App/Commands/LockRefusal.h"
#include "App/Commands/ProgramDefaults.h"
#include "App/Controller/ChangePolicy.h"
#include "App/Data/ApplicationPorts.h"
#include "App/Data/Preferences/ZeltoPreferences.h"

namespace zelto {

namespace {

using json = nlohmann::json;

// The port `text` names: digits alone, 1 to 65535.
std::optional<int> parsePort(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return ApplicationPorts::portNumber(std::stoi(text));
}

json portJson(const ApplicationPorts::Port& port, const char* key, const std::string& file) {
  return {{"port", port.number},
          {"key", key},
          {"file", file},
          {"stored", port.stored.value_or(nullptr)},
          {"isDefault", !port.stored || port.storedIsNoPort()}};
}

std::string portLine(const char* title, const ApplicationPorts::Port& port, const char* key,
                     const std::string& file) {
  std::string origin;
  if (!port.stored) {
    origin = "the default, nothing stored; ";
  } else if (port.storedIsNoPort()) {
    origin = fmt::format("the default: the stored {} is no port; ", port.stored->dump());
  }
  return fmt::format("{:<12}{}  ({}\"{}\" in {})\n", title, port.number, origin, key, file);
}

CommandOutcome shown(Zelto& zelto, const PortCommand::ApplicationSettings& settings,
                     std::string text = "") {
  const std::string config = ZeltoPreferences::standardConfigurationPath().value_or("(unknown)");
  const ApplicationPorts::Port page = ApplicationPorts::blockPage(zelto.prefs());
  const ApplicationPorts::Port proxy = ApplicationPorts::proxy(settings.defaults);
  json report = {{"blockPage", portJson(page, ApplicationPorts::kBlockPageKey, config)},
                 {"proxy", portJson(proxy, ApplicationPorts::kProxyKey, settings.file)}};
  text = portLine("Block page:", page, ApplicationPorts::kBlockPageKey, config) +
         portLine("Proxy:", proxy, ApplicationPorts::kProxyKey, settings.file) + text;
  return CommandOutcome::done(std::move(report), std::move(text));
}

}  // namespace

CommandOutcome PortCommand::run(Zelto& zelto, ApplicationSettings settings,
                                const Options& options) {
  if (!options.changes()) return shown(zelto, settings);
  std::optional<int> http;
  std::optional<int> proxy;
  for (auto [given, parsed, flag] : {std::tuple(&options.http, &http, "--http"),
                                     std::tuple(&options.proxy, &proxy, "--proxy")}) {
    if (!*given) continue;
    *parsed = parsePort(**given);
    if (!*parsed) {
      return CommandOutcome::usage(fmt::format(
          "{} {} is no port: give a whole number from 1 to 65535", flag, json(**given).dump()));
    }
  }

  ZeltoPreferences& prefs = *zelto.prefs();
  const ApplicationPorts::Port pageBefore = ApplicationPorts::blockPage(&prefs);
  const ApplicationPorts::Port proxyBefore = ApplicationPorts::proxy(settings.defaults);
  const int page = http.value_or(pageBefore.number);
  const int proxied = proxy.value_or(proxyBefore.number);
  if (page == proxied) {
    return CommandOutcome::usage(
        http && proxy
            ? fmt::format("--http and --proxy are both {}: the two ports must differ", page)
        : http ? fmt::format("--http {} is the proxy's port: the two ports must differ", page)
               : fmt::format("--proxy {} is the block page's port: the two ports must differ",
                             proxied));
  }
  // A value is written when it differs from what is in use, or to mend one that is no port.
  const bool newPage =
      http && (page != pageBefore.number || !pageBefore.stored || pageBefore.storedIsNoPort());
  const bool newProxy = proxy && (proxied != proxyBefore.number || !proxyBefore.stored ||
                                  proxyBefore.storedIsNoPort());
  if (!newPage && !newProxy) return shown(zelto, settings, "Nothing changed.\n");

  const BlockState state = BlockState::observe(zelto);
  if (!ChangePolicy::decide(zelto, state, {.kind = ChangePolicy::Change::Kind::kChangePorts})
           .allowed()) {
    return LockRefusal::refuse(zelto, state,
                               newPage && newProxy ? "Changing the ports"
                               : newPage           ? "Changing the block page's port"
                                                   : "Changing the proxy's port");
  }

  if (newProxy) {
    settings.defaults.setObject(proxied, ApplicationPorts::kProxyKey);
    if (Status stored = settings.defaults.synchronize(); !stored.ok()) {
      return CommandOutcome::refused("The proxy's port could not be stored in " + settings.file +
                                     ": " + stored.message());
    }
  }
  if (newPage) {
    const std::optional<json> before = prefs.httpPort;
    prefs.httpPort = page;
    if (Status saved = zelto.save(); !saved.ok()) {
      prefs.httpPort = before;
      if (newProxy) {
        settings.defaults.setObject(proxyBefore.stored.value_or(nullptr),
                                    ApplicationPorts::kProxyKey);
        settings.defaults.synchronize().ignoreError();
      }
      return CommandOutcome::refused("The configuration could not be saved: " + saved.message());
    }
  }
  std::string notes;
  if (newPage) notes += "The application moves the block page to the new port at once.\n";
  if (newProxy) {
    notes +=
        "The application listens on the new proxy port from its next start; a browser set to\n"
        "the proxy by hand needs the new port then, one using the proxy auto-configuration\n"
        "address follows once it reads that file again.\n";
  }
  if (newPage) {
    notes += fmt::format(
        "A browser using the proxy auto-configuration address needs the new one:\n"
        "http://localhost:{}/proxy.pac\n",
        page);
  }
  return shown(zelto, settings, notes);
}

void PortCommand::addTo(CLI::App& app, CommandRunner::Action& chosen) {
  auto options = std::make_shared<Options>();
  auto asJson = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand(
      "ports",
      "Show the application's two ports, the block page's and the filtering proxy's, and where\n"
      "each is kept; or set them");
  command
      ->add_option("--http", options->http,
                   "The block page's port (it also serves the proxy auto-configuration file\n"
                   "at http://localhost:PORT/proxy.pac); 8919 when not set")
      ->type_name("PORT");
  command->add_option("--proxy", options->proxy, "The filtering proxy's port; 8920 when not set")
      ->type_name("PORT");
  command->add_flag("--json", *asJson, "One JSON object, for programs");
  command->footer(
      "Each port is a whole number from 1 to 65535, and the two differ. The block page's is\n"
      "kept as \"httpPort\" in the configuration and followed by the application at once; the\n"
      "proxy's as \"ProxyPort\" in ${XDG_CONFIG_HOME:-~/.config}/Zelto/Preferences/\n"
      "Quarnix.zelto.plist, taken at the application's next start. While blocking is locked\n"
      "neither can change.\n"
      "Examples: zeltoctl ports; zeltoctl ports --proxy 3128; zeltoctl ports --http 8080");
  command->callback([&chosen, options, asJson] {
    chosen = [options, asJson] {
      std::unique_ptr<UserDefaults> defaults =
          ProgramDefaults::of(ProgramDefaults::kApplicationDomain);
      auto command = [&](Zelto& zelto) {
        return run(zelto, {*defaults, ProgramDefaults::fileOf(ProgramDefaults::kApplicationDomain)},
                   *options);
      };
      return options->changes() ? CommandRunner::edit(*asJson, command)
                                : CommandRunner::read(*asJson, command);
    };
  });
}

}  // namespace zelto
