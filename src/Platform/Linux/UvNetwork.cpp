#include "Platform/Linux/UvNetwork.h"

#include "Platform/Linux/UvTcpListener.h"
#include "Platform/Linux/UvTcpStream.h"

namespace zelto {

Result<std::unique_ptr<TcpListener>> UvNetwork::listen(const std::string& ip, int port,
                                                       TcpListener::AcceptCallback onAccept) {
  return UvTcpListener::listen(loop_, ip, port, std::move(onAccept));
}

std::unique_ptr<Registration> UvNetwork::connect(std::vector<SocketAddress> addresses,
                                                 ConnectCallback callback) {
  return UvTcpStream::connect(loop_, std::move(addresses), std::move(callback));
}

}  // namespace zelto
