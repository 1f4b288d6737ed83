#include "Platform/Linux/UvTcpListener.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <uv.h>

#include <cstring>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvTcpStreamImpl.h"

namespace zelto {

namespace {

// Connections taken off the queue per wake-up, so that one busy listener can't hold the loop.
constexpr int kAcceptsPerTurn = 64;
// Out of descriptors, accepting is tried again after this long (or at the owner's resume).
constexpr uint64_t kRetryMilliseconds = 1000;

Status errnoFailure(const std::string& what, int error) { return Status::fromErrno(error, what); }

bool isExhaustion(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

// The socket is our own (not libuv's listening stream): libuv would accept and close
// connections when descriptors run out, where this leaves them queued.
struct UvTcpListener::State {
  uv_poll_t poll{};
  uv_timer_t retry{};  // tries again after running out of descriptors
  FileDescriptor socket;
  uv_loop_t* loop = nullptr;
  AcceptCallback onAccept;
  ExhaustedCallback onExhausted;
  int handles = 0;  // libuv handles still to be closed before the state goes
  bool closed = false;
  bool paused = false;     // by the owner
  bool exhausted = false;  // out of descriptors, until the retry or a resume

  void close() {
    closed = true;
    auto release = [](uv_handle_t* h) {
      auto* state = static_cast<State*>(h->data);
      if (--state->handles == 0) delete state;
    };
    uv_close(reinterpret_cast<uv_handle_t*>(&poll), release);
    uv_close(reinterpret_cast<uv_handle_t*>(&retry), release);
  }

  void follow() {
    if (closed) return;
    if (paused || exhausted) {
      uv_poll_stop(&poll);
      return;
    }
    uv_poll_start(&poll, UV_READABLE, [](uv_poll_t* handle, int status, int) {
      auto* state = static_cast<State*>(handle->data);
      if (status == 0) state->acceptSome();
    });
  }

  void acceptSome() {
    for (int i = 0; i < kAcceptsPerTurn && !closed && !paused && !exhausted; ++i) {
      const int fd = ::accept4(socket.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO) continue;
        if (isExhaustion(error)) {
          exhausted = true;
          follow();
          uv_timer_start(
              &retry,
              [](uv_timer_t* timer) {
                auto* state = static_cast<State*>(timer->data);
                state->exhausted = false;
                state->follow();
              },
              kRetryMilliseconds, 0);
          if (onExhausted) onExhausted(errnoFailure("cannot accept", error));
        }
        return;
      }
      FileDescriptor accepted(fd);
      TcpStreamImpl* impl = TcpStreamImpl::create(loop);
      if (uv_tcp_open(&impl->handle, accepted.get()) != 0) {
        impl->close();
        continue;
      }
      (void)accepted.release();  // the stream's handle owns it now
      onAccept(std::unique_ptr<TcpStream>(new UvTcpStream(impl)));
    }
  }
};

Result<std::unique_ptr<TcpListener>> UvTcpListener::listen(UvRunLoop& loop, const std::string& ip,
                                                           int port, AcceptCallback onAccept) {
  Result<SocketAddress> address = SocketAddress::parse(ip, port);
  if (!address.ok()) return address.status();
  const int family = address->family();
  FileDescriptor socket(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  auto fail = [&](const char* what, int error) {
    return errnoFailure(std::string(what) + " " + address->toString(), error);
  };
  if (!socket.valid()) return fail("cannot open a socket for", errno);
  const int on = 1;
  ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (family == AF_INET6) ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (::bind(socket.get(), address->get(), address->length()) != 0) {
    return fail("cannot bind", errno);
  }
  if (::listen(socket.get(), SOMAXCONN) != 0) return fail("cannot listen at", errno);
  sockaddr_storage bound{};
  socklen_t length = sizeof(bound);
  if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    return fail("cannot read the port of", errno);
  }

  auto* state = new State();
  state->loop = loop.loop();
  state->onAccept = std::move(onAccept);
  if (const int error = uv_poll_init(loop.loop(), &state->poll, socket.get()); error != 0) {
    delete state;
    return Status::failure(Status::kindOfErrno(-error),
                           "cannot watch " + address->toString() + ": " + uv_strerror(error));
  }
  uv_timer_init(loop.loop(), &state->retry);
  state->handles = 2;
  state->socket = std::move(socket);
  state->poll.data = state;
  state->retry.data = state;
  state->follow();
  std::unique_ptr<UvTcpListener> listener(new UvTcpListener(state));
  listener->port_ = SocketAddress::fromSockaddr(reinterpret_cast<sockaddr*>(&bound))->port();
  return std::unique_ptr<TcpListener>(std::move(listener));
}

UvTcpListener::~UvTcpListener() { state_->close(); }

void UvTcpListener::onExhausted(ExhaustedCallback callback) {
  state_->onExhausted = std::move(callback);
}

void UvTcpListener::pause() {
  state_->paused = true;
  state_->follow();
}

void UvTcpListener::resume() {
  if (!state_->paused && !state_->exhausted) return;
  state_->paused = false;
  state_->exhausted = false;
  uv_timer_stop(&state_->retry);
  state_->follow();
}

bool UvTcpListener::isPaused() const { return state_->paused || state_->exhausted; }

}  // namespace zelto
