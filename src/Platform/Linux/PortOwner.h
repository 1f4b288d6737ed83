// PortOwner: which program holds a TCP port on this machine, so that a server that can't listen
// can say who is in its way.
//
// Read from /proc: the listening sockets at the port in /proc/net/tcp and /proc/net/tcp6 give
// their inodes; the process with a descriptor link "socket:[INODE]" among /proc/PID/fd holds
// one, and /proc/PID/comm names it. Another user's processes can't be looked into, so a port
// they hold reads as "another program", as does a port nobody is found listening on.
//
// Class operations only; any thread. Holds no descriptor between calls; a call reads every
// process's descriptor list, so it is for a log line, not for a loop.
#pragma once

#include <string>

namespace zelto {

class PortOwner {
 public:
  // What is said when the holder can't be told.
  static constexpr const char* kUnknown = "another program";

  // "zelto (pid 1234)" for the process listening at TCP `port` (any address), else kUnknown.
  static std::string describe(int port);
};

}  // namespace zelto
