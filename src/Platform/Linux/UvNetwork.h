// UvNetwork: the Network of the program: libuv sockets on its UvRunLoop.
//
// Holds only a reference to the loop; what it hands out lives on that loop. The loop's thread
// only.
#pragma once

#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Network.h"

namespace zelto {

class UvNetwork final : public Network {
 public:
  explicit UvNetwork(UvRunLoop& loop) : loop_(loop) {}

  Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                              TcpListener::AcceptCallback onAccept) override;
  std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                        ConnectCallback callback) override;

 private:
  UvRunLoop& loop_;
};

}  // namespace zelto
