// LoopbackClient: a TCP client for the server tests, through the test's Network (real sockets or
// FakeNetwork): connects to a port on 127.0.0.1 (or ::1), sends what it is given and keeps
// everything it receives until the server closes. Reading can be held back, to leave the server
// with bytes it can't deliver.
//
// LoopbackOrigin: the far end, listening at a free port of 127.0.0.1 (or `ip`; port() is 0 when
// that fails): keeps what each connection sends and runs `onData` (if any) on it; a connection
// whose other side ends is closed, or handed to `onEnd` when there is one.
//
// The loop's thread (the test's, or the one running the loop); destroy before the loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Network.h"

namespace zelto::testing {

class LoopbackClient {
 public:
  LoopbackClient(Network& network, int port, std::string firstBytes = {},
                 const std::string& ip = "127.0.0.1", bool holdReading = false)
      : firstBytes_(std::move(firstBytes)), holdReading_(holdReading) {
    std::vector<SocketAddress> addresses;
    if (auto address = SocketAddress::parse(ip, port); address.ok()) addresses.push_back(*address);
    step_ = network.connect(addresses, [this](Result<std::unique_ptr<TcpStream>> stream) {
      if (!stream.ok()) {
        ended = true;
        return;
      }
      stream_ = std::move(*stream);
      connected = true;
      stream_->startReading([this](std::string_view bytes) { received.append(bytes); },
                            [this](const Status&) { ended = true; });
      if (holdReading_) stream_->pauseReading();
      send(std::exchange(firstBytes_, {}));
      if (shutdownAfterFirstBytes) stream_->shutdown();
    });
  }

  void send(std::string bytes) {
    if (stream_) stream_->write(std::move(bytes)).ignoreError();
  }
  void readNow() {
    if (stream_) stream_->resumeReading();
  }
  void close() { stream_.reset(); }
  // Ends sending; the server may still answer.
  void shutdown() {
    if (stream_) stream_->shutdown();
  }

  bool shutdownAfterFirstBytes = false;  // set before the connection is made
  bool connected = false;
  bool ended = false;  // the server closed (or the connection failed)
  std::string received;

 private:
  std::string firstBytes_;
  bool holdReading_;
  std::unique_ptr<Registration> step_;
  std::unique_ptr<TcpStream> stream_;
};

struct LoopbackOrigin {
  struct Peer {
    std::unique_ptr<TcpStream> stream;
    std::string received;
    bool ended = false;
  };

  LoopbackOrigin(Network& network, std::function<void(Peer&)> onData,
                 const std::string& ip = "127.0.0.1")
      : onData(std::move(onData)) {
    auto listening = network.listen(ip, 0, [this](std::unique_ptr<TcpStream> stream) {
      peers.push_back(std::make_unique<Peer>());
      Peer& peer = *peers.back();
      peer.stream = std::move(stream);
      peer.stream->startReading(
          [this, &peer](std::string_view bytes) {
            peer.received.append(bytes);
            if (this->onData) this->onData(peer);
          },
          [this, &peer](const Status&) {
            peer.ended = true;
            if (onEnd) {
              onEnd(peer);
            } else {
              peer.stream.reset();
            }
          });
    });
    if (listening.ok()) listener = std::move(*listening);
  }
  int port() const { return listener ? listener->port() : 0; }

  std::function<void(Peer&)> onData;
  std::function<void(Peer&)> onEnd;
  std::unique_ptr<TcpListener> listener;
  std::vector<std::unique_ptr<Peer>> peers;
};

}  // namespace zelto::testing
