// BundleIdentifiers: the identifiers of the two bundles, the main application's and the agent's.
// They name the user defaults domain each program keeps its settings in, and the running
// application the agent looks for; every program takes them from here, and the build reads them
// from here for the bundles' Info.plist files (keep each on one line, as it stands).
//
// Constants only; any thread.
#pragma once

namespace zelto {

struct BundleIdentifiers {
  // The main application.
  static constexpr const char* kMain = "Quarnix.zelto";
  // The agent, whose defaults domain holds the settings every program shares.
  static constexpr const char* kAgent = "Quarnix.zelto.agent";
};

}  // namespace zelto
