#include "Guard/GuardServer.h"

#include <sys/socket.h>

#include "Platform/Log.h"

namespace zelto {

struct GuardServer::Connection {
  FileDescriptor fd;
  LocalListener::Peer peer;
  std::string in;
  std::string out;
  size_t sent = 0;
  bool closed = false;
  std::unique_ptr<Registration> reading;
  std::unique_ptr<Registration> writing;  // a retry while the client's buffer is full
  std::unique_ptr<Registration> deadline;
};

GuardServer::GuardServer(RunLoop& loop, LocalListener listener, Handler handler)
    : loop_(loop), listener_(std::move(listener)), handler_(std::move(handler)) {}

Result<std::unique_ptr<GuardServer>> GuardServer::start(RunLoop& loop, const std::string& path,
                                                        Handler handler) {
  auto listener = LocalListener::listen(path, 0666);
  if (!listener) return listener.status();
  std::unique_ptr<GuardServer> server(
      new GuardServer(loop, std::move(listener).value(), std::move(handler)));
  auto watch = loop.watchReadable(server->listener_.fd(), [s = server.get()] { s->acceptAll(); });
  if (!watch) return watch.status();
  server->accepting_ = std::move(watch).value();
  return server;
}

GuardServer::~GuardServer() {
  *alive_ = false;
  accepting_.reset();
  for (auto& connection : connections_) {
    connection->reading.reset();
    connection->writing.reset();
    connection->deadline.reset();
  }
}

void GuardServer::acceptAll() {
  while (true) {
    auto accepted = listener_.accept();
    if (!accepted) {
      if (!accepted.status().isBusy()) log::warning("{}", accepted.status().message());
      return;
    }
    if (connections_.size() >= kMaxConnections) {
      log::warning("Too many connections to the guard at once; closing one");
      continue;  // closed as it goes
    }
    auto peer = LocalListener::peerOf(*accepted);
    if (!peer) {
      log::warning("{}", peer.status().message());
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = std::move(accepted).value();
    connection->peer = *peer;
    Connection& c = *connection;
    connections_.push_back(std::move(connection));
    auto watch = loop_.watchReadable(c.fd.get(), [this, &c] { read(c); });
    if (!watch) {
      log::warning("{}", watch.status().message());
      close(c);
      continue;
    }
    c.reading = std::move(watch).value();
    c.deadline = loop_.addTimer(kConnectionSeconds, 0, [this, &c] {
      log::warning("A request to the guard from user {} took too long; closing it", c.peer.uid);
      close(c);
    });
  }
}

void GuardServer::read(Connection& c) {
  char buffer[64 * 1024];
  while (!c.closed) {
    auto got = c.fd.read(buffer, sizeof buffer);
    if (!got) {
      if (!got.status().isBusy()) close(c);
      return;
    }
    if (*got == 0) break;
    c.in.append(buffer, *got);
    if (c.in.size() > kMaxRequestBytes) {
      log::warning("A request to the guard from user {} was too long; closing it", c.peer.uid);
      close(c);
      return;
    }
  }
  if (c.closed) return;
  c.reading.reset();
  c.out = handler_(c.peer, c.in);
  c.in.clear();
  write(c);
}

void GuardServer::write(Connection& c) {
  if (c.closed) return;
  while (c.sent < c.out.size()) {
    const ssize_t wrote = ::send(c.fd.get(), c.out.data() + c.sent, c.out.size() - c.sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
    if (wrote > 0) {
      c.sent += static_cast<size_t>(wrote);
      continue;
    }
    if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) {
      // The client hasn't read yet: look again shortly (the deadline still bounds it).
      c.writing = loop_.addTimer(0.01, 0, [this, &c] { write(c); });
      return;
    }
    break;  // the client went away
  }
  close(c);
}

void GuardServer::close(Connection& c) {
  if (c.closed) return;
  c.closed = true;
  // Its handlers may be running: the connection goes on the loop's next turn.
  loop_.post([this, alive = alive_, target = &c] {
    if (!*alive) return;
    connections_.remove_if([target](const auto& each) { return each.get() == target; });
  });
}

}  // namespace zelto
