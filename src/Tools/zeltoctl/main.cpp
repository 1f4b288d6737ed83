// zeltoctl: the command-line companion of the blocker, for looking at what the agent sees.
#include <CLI/CLI.hpp>
#include <string>

int main(int argc, char** argv) {
  CLI::App app{
      "zeltoctl: inspect the Zelto blocker's configuration and what its watchdog agent decides.\n"
      "The agent keeps the Zelto application running while blocking should be on, and starts\n"
      "it before a scheduled blocking period begins."};
  app.name("zeltoctl");
  app.set_version_flag("--version", std::string("zeltoctl ") + ZELTO_VERSION);
  app.footer(
      "Files: configuration in ${XDG_DATA_HOME:-~/.local/share}/Zelto/default.cfg, settings in\n"
      "${XDG_CONFIG_HOME:-~/.config}/Zelto/Preferences, logs in\n"
      "${XDG_STATE_HOME:-~/.local/state}/Zelto/Logs.");
  CLI11_PARSE(app, argc, argv);
  if (argc == 1) {
    std::printf("%s", app.help().c_str());
  }
  return 0;
}
