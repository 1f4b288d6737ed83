// SocketAddress: one IPv4 or IPv6 address with its port, as the socket calls take and give it.
//
// A plain value, copied freely; any thread. `isThisMachine` asks the system for the machine's
// interface addresses each time it is called.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <optional>
#include <string>

#include "Platform/Status.h"

namespace zelto {

class SocketAddress {
 public:
  // `ip` is a numeric address ("127.0.0.1", "::1"); fails for anything else.
  static Result<SocketAddress> parse(const std::string& ip, int port);
  // Copies an address the system gave (AF_INET or AF_INET6 only).
  static std::optional<SocketAddress> fromSockaddr(const sockaddr* address);

  int family() const { return storage_.ss_family; }
  int port() const;
  // The numeric address without the port ("127.0.0.1", "::1").
  std::string ip() const;
  // "127.0.0.1:80", "[::1]:80".
  std::string toString() const;

  // 127.0.0.0/8, ::1, and IPv4-mapped 127.0.0.0/8.
  bool isLoopback() const;
  // 0.0.0.0 or :: (a connection to it reaches this machine).
  bool isUnspecified() const;
  // Loopback, unspecified, or the address of one of this machine's interfaces.
  bool isThisMachine() const;

  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage_); }
  // The size of the address for the socket calls.
  socklen_t length() const {
    return family() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  }

 private:
  // The IPv4 address of an AF_INET address or of an IPv4-mapped IPv6 one.
  std::optional<uint32_t> ipv4() const;

  sockaddr_storage storage_{};
};

}  // namespace zelto
