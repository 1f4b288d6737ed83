#include "Platform/Linux/UvTcpStream.h"

#include <uv.h>

#include <array>
#include <utility>

#include "Platform/Linux/UvTcpStreamImpl.h"

namespace zelto {

namespace {

// libuv's errors are the system's error numbers, negated.
Status uvFailure(const std::string& what, int error) {
  return Status::failure(Status::kindOfErrno(-error), what + ": " + uv_strerror(error));
}

struct WriteRequest {
  uv_write_t request;
  std::string bytes;
  TcpStream::WriteCallback done;
  TcpStreamImpl* impl;
};

}  // namespace

// ---------------------------------------------------------------------------
// TcpStreamImpl

TcpStreamImpl* TcpStreamImpl::create(uv_loop_t* loop) {
  auto* impl = new TcpStreamImpl();
  uv_tcp_init(loop, &impl->handle);
  impl->handle.data = impl;
  return impl;
}

void TcpStreamImpl::close() {
  if (closed) return;
  closed = true;
  uv_close(reinterpret_cast<uv_handle_t*>(&handle),
           [](uv_handle_t* h) { delete static_cast<TcpStreamImpl*>(h->data); });
}

// ---------------------------------------------------------------------------
// UvTcpStream

UvTcpStream::UvTcpStream(Impl* impl) : impl_(impl) { uv_tcp_nodelay(&impl_->handle, 1); }

UvTcpStream::~UvTcpStream() { close(); }

void UvTcpStream::close() {
  if (impl_ == nullptr) return;
  impl_->close();
  impl_ = nullptr;
}

bool UvTcpStream::isOpen() const { return impl_ != nullptr; }

void UvTcpStream::startReading(DataCallback onData, EndCallback onEnd) {
  if (impl_ == nullptr) return;
  impl_->onData = std::move(onData);
  impl_->onEnd = std::move(onEnd);
  resumeReading();
}

void UvTcpStream::resumeReading() {
  if (impl_ == nullptr || impl_->reading || impl_->ended) return;
  impl_->reading = true;
  uv_read_start(
      reinterpret_cast<uv_stream_t*>(&impl_->handle),
      [](uv_handle_t*, size_t, uv_buf_t* buffer) {
        // Each chunk is handed on before the next is read: one buffer per thread serves all.
        static thread_local char chunk[256 * 1024];
        *buffer = uv_buf_init(chunk, sizeof(chunk));
      },
      [](uv_stream_t* stream, ssize_t count, const uv_buf_t* buffer) {
        auto* impl = static_cast<TcpStreamImpl*>(stream->data);
        if (impl->closed || count == 0) return;
        if (count > 0) {
          if (impl->onData) impl->onData(std::string_view(buffer->base, count));
          return;
        }
        impl->ended = true;
        impl->reading = false;
        uv_read_stop(stream);
        Status end =
            count == UV_EOF ? Status::success() : uvFailure("read", static_cast<int>(count));
        if (impl->onEnd) impl->onEnd(std::move(end));
      });
}

void UvTcpStream::pauseReading() {
  if (impl_ == nullptr || !impl_->reading) return;
  impl_->reading = false;
  uv_read_stop(reinterpret_cast<uv_stream_t*>(&impl_->handle));
}

Status UvTcpStream::write(std::string bytes, WriteCallback done) {
  if (impl_ == nullptr) return Status::closed("write: the connection is closed");
  if (impl_->shutDown) return Status::closed("write: the connection is shut down");
  if (bytes.empty()) return Status::success();
  auto* request = new WriteRequest{{}, std::move(bytes), std::move(done), impl_};
  request->request.data = request;
  uv_buf_t buffer = uv_buf_init(request->bytes.data(), request->bytes.size());
  const int error =
      uv_write(&request->request, reinterpret_cast<uv_stream_t*>(&impl_->handle), &buffer, 1,
               [](uv_write_t* req, int status) {
                 auto* request = static_cast<WriteRequest*>(req->data);
                 TcpStreamImpl* impl = request->impl;
                 impl->queued -= request->bytes.size();
                 if (!impl->closed && request->done) {
                   request->done(status == 0 ? Status::success() : uvFailure("write", status));
                 }
                 delete request;
               });
  if (error != 0) {
    delete request;
    return uvFailure("write", error);
  }
  impl_->queued += request->bytes.size();
  return Status::success();
}

Result<size_t> UvTcpStream::writeNow(std::span<const std::string_view> pieces, WriteCallback done) {
  size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  if (total == 0 || impl_ == nullptr || impl_->shutDown) {
    // Nothing to write succeeds; a closed or shut down stream fails, as write says.
    if (Status taken = write(std::string()); !taken.ok()) return taken;
    return size_t{0};
  }
  size_t written = 0;
  if (impl_->queued == 0) {
    // Only with nothing queued, so that the bytes keep their order. Pieces past the first
    // sixteen wait with the rest.
    std::array<uv_buf_t, 16> buffers{};
    unsigned count = 0;
    for (std::string_view piece : pieces) {
      if (piece.empty()) continue;
      if (count == buffers.size()) break;
      buffers[count++] = uv_buf_init(const_cast<char*>(piece.data()), piece.size());
    }
    const int sent =
        uv_try_write(reinterpret_cast<uv_stream_t*>(&impl_->handle), buffers.data(), count);
    if (sent > 0) written = static_cast<size_t>(sent);
    if (written == total) return size_t{0};
  }
  std::string rest;
  rest.reserve(total - written);
  size_t skip = written;
  for (std::string_view piece : pieces) {
    if (skip >= piece.size()) {
      skip -= piece.size();
      continue;
    }
    rest.append(piece.substr(skip));
    skip = 0;
  }
  if (Status queued = write(std::move(rest), std::move(done)); !queued.ok()) return queued;
  return total - written;
}

size_t UvTcpStream::queuedBytes() const { return impl_ == nullptr ? 0 : impl_->queued; }

void UvTcpStream::shutdown() {
  if (impl_ == nullptr || impl_->shutDown) return;
  impl_->shutDown = true;
  auto* request = new uv_shutdown_t();
  if (uv_shutdown(request, reinterpret_cast<uv_stream_t*>(&impl_->handle),
                  [](uv_shutdown_t* req, int) { delete req; }) != 0) {
    delete request;
  }
}

namespace {

// The address `get` (uv_tcp_getpeername or uv_tcp_getsockname) gives for `handle`.
std::optional<SocketAddress> addressOf(const uv_tcp_t& handle,
                                       int (*get)(const uv_tcp_t*, sockaddr*, int*)) {
  sockaddr_storage storage{};
  int length = sizeof(storage);
  if (get(&handle, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return std::nullopt;
  return SocketAddress::fromSockaddr(reinterpret_cast<sockaddr*>(&storage));
}

}  // namespace

std::optional<SocketAddress> UvTcpStream::peerAddress() const {
  if (impl_ == nullptr) return std::nullopt;
  return addressOf(impl_->handle, uv_tcp_getpeername);
}

std::optional<SocketAddress> UvTcpStream::localAddress() const {
  if (impl_ == nullptr) return std::nullopt;
  return addressOf(impl_->handle, uv_tcp_getsockname);
}

// ---------------------------------------------------------------------------
// Resolving

namespace {

struct ResolveState {
  UvTcpStream::ResolveCallback callback;
  uv_getaddrinfo_t* request = nullptr;  // while libuv has it
  bool cancelled = false;
};

struct ResolveRequest {
  uv_getaddrinfo_t request;
  std::shared_ptr<ResolveState> state;
};

// Cancels a step when dropped; the step's state lives as long as libuv still needs it.
template <typename State>
class StepHandle final : public Registration {
 public:
  explicit StepHandle(std::shared_ptr<State> state) : state_(std::move(state)) {}
  ~StepHandle() override { cancel(); }
  void cancel() override {
    if (state_) state_->cancel();
    state_.reset();
  }

 private:
  std::shared_ptr<State> state_;
};

struct ResolveStep : ResolveState {
  void cancel() {
    cancelled = true;
    if (request != nullptr) uv_cancel(reinterpret_cast<uv_req_t*>(request));
  }
};

}  // namespace

std::unique_ptr<Registration> UvTcpStream::resolve(UvRunLoop& loop, const std::string& host,
                                                   int port, ResolveCallback callback) {
  auto state = std::make_shared<ResolveStep>();
  state->callback = std::move(callback);
  auto* request = new ResolveRequest{{}, state};
  request->request.data = request;
  state->request = &request->request;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const std::string service = std::to_string(port);
  const int error = uv_getaddrinfo(
      loop.loop(), &request->request,
      [](uv_getaddrinfo_t* req, int status, addrinfo* result) {
        auto* request = static_cast<ResolveRequest*>(req->data);
        std::shared_ptr<ResolveState> state = std::move(request->state);
        delete request;
        state->request = nullptr;
        std::vector<SocketAddress> addresses;
        for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
          if (auto address = SocketAddress::fromSockaddr(entry->ai_addr)) {
            addresses.push_back(*address);
          }
        }
        uv_freeaddrinfo(result);
        if (state->cancelled) return;
        if (status != 0) {
          state->callback(uvFailure("cannot resolve", status));
        } else if (addresses.empty()) {
          state->callback(Status::failure("cannot resolve: no address"));
        } else {
          state->callback(std::move(addresses));
        }
      },
      host.c_str(), service.c_str(), &hints);
  if (error != 0) {
    state->request = nullptr;
    delete request;
    auto failed = std::static_pointer_cast<ResolveState>(state);
    loop.post([failed, error] {
      if (!failed->cancelled) failed->callback(uvFailure("cannot resolve", error));
    });
  }
  return std::make_unique<StepHandle<ResolveStep>>(state);
}

// ---------------------------------------------------------------------------
// Connecting

namespace {

struct ConnectStep {
  UvRunLoop* loop;
  std::vector<SocketAddress> addresses;
  size_t next = 0;
  Network::ConnectCallback callback;
  TcpStreamImpl* current = nullptr;  // the socket being connected
  std::string lastFailure = "no address to connect to";
  bool cancelled = false;

  void cancel() {
    cancelled = true;
    if (current != nullptr) current->close();
    current = nullptr;
  }
};

struct ConnectRequest {
  uv_connect_t request;
  std::shared_ptr<ConnectStep> step;
  TcpStreamImpl* impl;
};

}  // namespace

void TcpStreamImpl::tryNext(const std::shared_ptr<void>& opaque) {
  auto step = std::static_pointer_cast<ConnectStep>(opaque);
  while (!step->cancelled && step->next < step->addresses.size()) {
    const SocketAddress& address = step->addresses[step->next++];
    TcpStreamImpl* impl = create(step->loop->loop());
    auto* request = new ConnectRequest{{}, step, impl};
    request->request.data = request;
    const int error = uv_tcp_connect(
        &request->request, &impl->handle, address.get(), [](uv_connect_t* req, int status) {
          auto* request = static_cast<ConnectRequest*>(req->data);
          std::shared_ptr<ConnectStep> step = std::move(request->step);
          TcpStreamImpl* impl = request->impl;
          delete request;
          if (step->cancelled) return;  // the socket is already closing
          step->current = nullptr;
          if (status == 0) {
            step->callback(std::unique_ptr<TcpStream>(new UvTcpStream(impl)));
            return;
          }
          impl->close();
          step->lastFailure = uvFailure("cannot connect", status).message();
          tryNext(step);
        });
    if (error == 0) {
      step->current = impl;
      return;
    }
    delete request;
    impl->close();
    step->lastFailure = uvFailure("cannot connect", error).message();
  }
  if (step->cancelled) return;
  // Never from inside connect(): the caller holds its handle first.
  step->loop->post([step] {
    if (!step->cancelled) step->callback(Status::failure(step->lastFailure));
  });
}

std::unique_ptr<Registration> UvTcpStream::connect(UvRunLoop& loop,
                                                   std::vector<SocketAddress> addresses,
                                                   Network::ConnectCallback callback) {
  auto step = std::make_shared<ConnectStep>();
  step->loop = &loop;
  step->addresses = std::move(addresses);
  step->callback = std::move(callback);
  TcpStreamImpl::tryNext(step);
  return std::make_unique<StepHandle<ConnectStep>>(step);
}

}  // namespace zelto
