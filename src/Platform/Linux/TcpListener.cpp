#include "Platform/Linux/TcpListener.h"

#include <uv.h>

#include "Platform/Linux/TcpStreamImpl.h"

namespace zelto {

struct TcpListener::State {
  uv_tcp_t handle{};
  AcceptCallback onAccept;
  bool closed = false;

  void close() {
    closed = true;
    uv_close(reinterpret_cast<uv_handle_t*>(&handle),
             [](uv_handle_t* h) { delete static_cast<State*>(h->data); });
  }
};

Result<std::unique_ptr<TcpListener>> TcpListener::listen(UvRunLoop& loop, const std::string& ip,
                                                         int port, AcceptCallback onAccept) {
  Result<SocketAddress> address = SocketAddress::parse(ip, port);
  if (!address.ok()) return address.status();
  auto* state = new State();
  state->onAccept = std::move(onAccept);
  uv_tcp_init(loop.loop(), &state->handle);
  state->handle.data = state;
  auto fail = [&](const char* what, int error) {
    state->close();
    return Status::failure(std::string(what) + " " + address->toString() + ": " +
                           uv_strerror(error));
  };
  const unsigned flags = address->family() == AF_INET6 ? UV_TCP_IPV6ONLY : 0;
  if (int error = uv_tcp_bind(&state->handle, address->get(), flags); error != 0) {
    return fail("cannot bind", error);
  }
  if (int error =
          uv_listen(reinterpret_cast<uv_stream_t*>(&state->handle), SOMAXCONN,
                    [](uv_stream_t* server, int status) {
                      auto* state = static_cast<State*>(server->data);
                      if (state->closed || status != 0) return;
                      TcpStreamImpl* impl = TcpStreamImpl::create(server->loop);
                      if (uv_accept(server, reinterpret_cast<uv_stream_t*>(&impl->handle)) != 0) {
                        impl->close();
                        return;
                      }
                      state->onAccept(std::unique_ptr<TcpStream>(new TcpStream(impl)));
                    });
      error != 0) {
    return fail("cannot listen at", error);
  }
  sockaddr_storage bound{};
  int length = sizeof(bound);
  if (int error = uv_tcp_getsockname(&state->handle, reinterpret_cast<sockaddr*>(&bound), &length);
      error != 0) {
    return fail("cannot read the port of", error);
  }
  std::unique_ptr<TcpListener> listener(new TcpListener(state));
  listener->port_ = SocketAddress::fromSockaddr(reinterpret_cast<sockaddr*>(&bound))->port();
  return listener;
}

TcpListener::~TcpListener() { state_->close(); }

}  // namespace zelto
