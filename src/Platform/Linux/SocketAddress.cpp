#include "Platform/SocketAddress.h"

#include <arpa/inet.h>
#include <uv.h>

#include <cstring>

namespace zelto {

Result<SocketAddress> SocketAddress::parse(const std::string& ip, int port) {
  SocketAddress address;
  if (port < 0 || port > 65535)
    return Status::failure("port out of range: " + std::to_string(port));
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage_);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage_);
  if (uv_ip4_addr(ip.c_str(), port, v4) == 0) return address;
  address.storage_ = {};
  if (uv_ip6_addr(ip.c_str(), port, v6) == 0) return address;
  return Status::failure("not a numeric address: " + ip);
}

std::optional<SocketAddress> SocketAddress::fromSockaddr(const sockaddr* from) {
  if (from == nullptr) return std::nullopt;
  SocketAddress address;
  if (from->sa_family == AF_INET) {
    std::memcpy(&address.storage_, from, sizeof(sockaddr_in));
  } else if (from->sa_family == AF_INET6) {
    std::memcpy(&address.storage_, from, sizeof(sockaddr_in6));
  } else {
    return std::nullopt;
  }
  return address;
}

int SocketAddress::port() const {
  if (family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
  if (family() == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
  }
  return 0;
}

std::string SocketAddress::ip() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET) {
    uv_ip4_name(reinterpret_cast<const sockaddr_in*>(&storage_), text, sizeof(text));
  } else if (family() == AF_INET6) {
    uv_ip6_name(reinterpret_cast<const sockaddr_in6*>(&storage_), text, sizeof(text));
  }
  return text;
}

std::string SocketAddress::toString() const {
  const std::string host = family() == AF_INET6 ? "[" + ip() + "]" : ip();
  return host + ":" + std::to_string(port());
}

std::optional<uint32_t> SocketAddress::ipv4() const {
  if (family() == AF_INET) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr.s_addr);
  }
  if (family() == AF_INET6) {
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a)) {
      uint32_t v4;
      std::memcpy(&v4, a.s6_addr + 12, sizeof(v4));
      return ntohl(v4);
    }
  }
  return std::nullopt;
}

bool SocketAddress::isLoopback() const {
  if (auto v4 = ipv4()) return (*v4 >> 24) == 127;
  if (family() == AF_INET6) {
    return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr);
  }
  return false;
}

bool SocketAddress::isUnspecified() const {
  if (auto v4 = ipv4()) return *v4 == 0;
  if (family() == AF_INET6) {
    return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr);
  }
  return false;
}

bool SocketAddress::isThisMachine() const {
  if (isLoopback() || isUnspecified()) return true;
  uv_interface_address_t* interfaces = nullptr;
  int count = 0;
  if (uv_interface_addresses(&interfaces, &count) != 0) return false;
  bool found = false;
  const std::string mine = ip();
  for (int i = 0; i < count && !found; ++i) {
    auto address = fromSockaddr(reinterpret_cast<const sockaddr*>(&interfaces[i].address));
    found = address && address->ip() == mine;
  }
  uv_free_interface_addresses(interfaces, count);
  return found;
}

}  // namespace zelto
