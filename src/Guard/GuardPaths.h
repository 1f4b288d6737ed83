// GuardPaths: where the system guard keeps and touches files. Every system path it uses is taken
// under one root, "/" on a real system and a temporary tree in tests (the guard's --root), so a
// test can run the real guard without touching the machine's own /etc, /var/lib or /run.
//
// A plain value. Any thread.
#pragma once

#include <string>

namespace zelto {

struct GuardPaths {
  std::string root = "/";

  // `systemPath` (absolute, such as "/etc/hosts") under the root.
  std::string under(const std::string& systemPath) const {
    if (root.empty() || root == "/") return systemPath;
    return (root.ends_with('/') ? root.substr(0, root.size() - 1) : root) + systemPath;
  }
  // The folder of the locks, one file per user: "UID.json".
  std::string stateDir() const { return under("/var/lib/zelto-guard"); }
  std::string defaultSocket() const { return under("/run/zelto-guard.sock"); }
};

}  // namespace zelto
