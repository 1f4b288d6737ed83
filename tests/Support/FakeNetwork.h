// FakeNetwork: a Network for tests, in memory, on the test's (simulated) run loop.
//
// Listeners take any address and port; a connect reaches the listener at its address (else it
// is refused), as two FakeStreams joined back to back. Nothing happens inside a call: bytes,
// ends, accepts and connects are posted and arrive when the test turns the loop. Each direction
// holds `kWindow` bytes the reader hasn't read, like a socket's buffers; past that, writes are
// queued (queuedBytes) and their completions wait until the reader reads. A shutdown reaches
// the reader after the bytes before it; a closed stream's peer reads what was sent before, then
// sees the end, and its own writes fail from then on.
//
// The test can make addresses swallow connects (a host that never answers) and make the
// program under test run out of descriptors: its listeners then leave connections queued,
// telling their owner, and try again a second later or at a resume; its connects fail. What
// other programs do (`outside()`: the test's clients and origins) never runs out.
//
// The loop's thread (the test's) only. The network outlives what it hands out.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Network.h"
#include "Platform/RunLoop.h"

namespace zelto::testing {

class FakeNetwork final : public Network {
 public:
  static constexpr size_t kWindow = 64 * 1024;

  explicit FakeNetwork(RunLoop& loop) : loop_(loop), outside_(new FakeNetwork(*this)) {}

  Result<std::unique_ptr<TcpListener>> listen(const std::string& ip, int port,
                                              TcpListener::AcceptCallback onAccept) override {
    if (port == 0) port = home_.nextPort_++;
    Result<SocketAddress> address = SocketAddress::parse(ip, port);
    if (!address.ok()) return address.status();
    const std::string key = address->toString();
    if (home_.listeners_.count(key) != 0) {
      return Status::busy("cannot bind " + key + ": Address already in use");
    }
    return std::unique_ptr<TcpListener>(
        std::make_unique<Listener>(home_, key, port, std::move(onAccept), &home_ != this));
  }

  std::unique_ptr<Registration> connect(std::vector<SocketAddress> addresses,
                                        ConnectCallback callback) override {
    // Cancelling (or dropping) the step before the loop turns stops the connect.
    struct Step final : Registration {
      ~Step() override { cancel(); }
      void cancel() override { *cancelled = true; }
      std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);
    };
    auto step = std::make_unique<Step>();
    loop_.post([this, addresses = std::move(addresses), callback = std::move(callback),
                cancelled = step->cancelled, outside = &home_ != this] {
      FakeNetwork& network = home_;
      std::string failure = "cannot connect: no address to connect to";
      for (const SocketAddress& to : addresses) {
        if (*cancelled) return;
        if (network.outOfDescriptors_ && !outside) {
          failure = "cannot connect: too many open files";
          continue;
        }
        if (network.swallowed_.count(to.ip()) != 0) return;  // until cancelled
        auto listener = network.listeners_.find(to.toString());
        if (listener == network.listeners_.end()) {
          failure = "cannot connect: connection refused";
          continue;
        }
        const bool loopback = to.isLoopback();
        const bool v6 = to.family() == AF_INET6;
        const SocketAddress local = *SocketAddress::parse(
            v6 ? (loopback ? "::1" : "fd00::1") : (loopback ? "127.0.0.1" : "10.0.0.1"),
            network.nextPort_++);
        auto link = std::make_shared<Link>();
        auto client = std::make_unique<Stream>(network, link, 0, local, to);
        listener->second->enqueue(std::make_unique<Stream>(network, link, 1, to, local));
        callback(std::unique_ptr<TcpStream>(std::move(client)));
        return;
      }
      if (!*cancelled) callback(Status::failure(failure));
    });
    return step;
  }

  // The same network as another program on the machine uses it.
  Network& outside() { return *outside_; }

  // Connects to `ip` neither succeed nor fail until cancelled.
  void swallowConnects(const std::string& ip) { swallowed_.insert(ip); }
  void setOutOfDescriptors(bool out) { outOfDescriptors_ = out; }

 private:
  class Stream;

  // One connection: per end, the bytes on their way to it. `in[i]` is read by end i and written
  // by the other.
  struct Link {
    struct Direction {
      std::string unread;
      uint64_t written = 0;
      uint64_t read = 0;
      // The writer's completions, each due once `read` is within kWindow of its mark.
      std::deque<std::pair<uint64_t, TcpStream::WriteCallback>> waiting;
      bool finished = false;    // nothing more comes after `unread`
      bool readerGone = false;  // writes fail
    };
    Direction in[2];
    Stream* ends[2] = {nullptr, nullptr};
  };

  class Stream final : public TcpStream {
   public:
    Stream(FakeNetwork& network, std::shared_ptr<Link> link, int side, SocketAddress local,
           SocketAddress peer)
        : network_(network), link_(std::move(link)), side_(side), local_(local), peer_(peer) {
      link_->ends[side_] = this;
    }
    ~Stream() override { close(); }

    void startReading(DataCallback onData, EndCallback onEnd) override {
      onData_ = std::move(onData);
      onEnd_ = std::move(onEnd);
      reading_ = true;
      paused_ = false;
      schedule(link_, side_);
    }
    void resumeReading() override {
      paused_ = false;
      if (reading_) schedule(link_, side_);
    }
    void pauseReading() override { paused_ = true; }

    Status write(std::string bytes, WriteCallback done) override {
      return send(bytes, std::move(done), /*always=*/true).status();
    }
    Result<size_t> writeNow(std::span<const std::string_view> pieces, WriteCallback done) override {
      std::string bytes;
      for (std::string_view piece : pieces) bytes.append(piece);
      return send(bytes, std::move(done), /*always=*/false);
    }
    size_t queuedBytes() const override {
      if (closed_) return 0;
      const Link::Direction& out = link_->in[1 - side_];
      return out.written - out.read > kWindow ? out.written - out.read - kWindow : 0;
    }
    void shutdown() override {
      if (closed_ || shutDown_) return;
      shutDown_ = true;
      link_->in[1 - side_].finished = true;
      schedule(link_, 1 - side_);
    }
    void close() override {
      if (closed_) return;
      closed_ = true;
      link_->ends[side_] = nullptr;
      // What waited beyond the window is dropped; the peer reads the rest, then the end.
      Link::Direction& out = link_->in[1 - side_];
      if (out.written - out.read > kWindow) {
        out.unread.resize(kWindow);
        out.written = out.read + kWindow;
      }
      out.waiting.clear();
      out.finished = true;
      Link::Direction& in = link_->in[side_];
      in.readerGone = true;
      in.unread.clear();
      for (auto& [mark, done] : std::exchange(in.waiting, {})) fail(link_, 1 - side_, done);
      schedule(link_, 1 - side_);
    }
    bool isOpen() const override { return !closed_; }
    std::optional<SocketAddress> peerAddress() const override { return peer_; }
    std::optional<SocketAddress> localAddress() const override { return local_; }

   private:
    Result<size_t> send(const std::string& bytes, WriteCallback done, bool always) {
      if (closed_ || shutDown_) return Status::closed("cannot write: the stream is closed");
      if (bytes.empty() && !always) return size_t{0};
      Link::Direction& out = link_->in[1 - side_];
      if (out.readerGone) {
        if (done) fail(link_, side_, done);
        return size_t{0};
      }
      const size_t before = queuedBytes();
      out.unread += bytes;
      out.written += bytes.size();
      const size_t queued = queuedBytes() - before;
      if (done && (always || queued > 0)) out.waiting.emplace_back(out.written, std::move(done));
      schedule(link_, 1 - side_);
      return queued;
    }

    void fail(const std::shared_ptr<Link>& link, int writer, const WriteCallback& done) {
      network_.loop_.post([link, writer, done] {
        if (link->ends[writer] != nullptr) done(Status::closed("cannot write: broken pipe"));
      });
    }

    // Delivers to end `reader` on the loop: what it may read now, its writer's completions that
    // fell due, then the end.
    void schedule(const std::shared_ptr<Link>& link, int reader) {
      Stream* to = link->ends[reader];
      if (to == nullptr || to->scheduled_) return;
      to->scheduled_ = true;
      network_.loop_.post([link, reader] {
        Stream* stream = link->ends[reader];
        if (stream != nullptr) stream->deliver();
      });
    }

    void deliver() {
      scheduled_ = false;
      Link::Direction& in = link_->in[side_];
      if (!reading_ || paused_ || ended_) return;
      std::shared_ptr<Link> link = link_;  // this stream may go in a callback
      const int side = side_;
      if (!in.unread.empty()) {
        const size_t size = std::min(in.unread.size(), kWindow);
        std::string bytes = in.unread.substr(0, size);
        in.unread.erase(0, size);
        in.read += size;
        while (!in.waiting.empty() && in.waiting.front().first <= in.read + kWindow) {
          WriteCallback done = std::move(in.waiting.front().second);
          in.waiting.pop_front();
          network_.loop_.post([link, writer = 1 - side, done] {
            if (link->ends[writer] != nullptr) done(Status::success());
          });
        }
        onData_(bytes);
        if (link->ends[side] != this) return;
        schedule(link, side);
        return;
      }
      if (in.finished) {
        ended_ = true;
        EndCallback onEnd = onEnd_;
        onEnd(Status::success());
      }
    }

    FakeNetwork& network_;
    std::shared_ptr<Link> link_;
    int side_;
    SocketAddress local_;
    SocketAddress peer_;
    DataCallback onData_;
    EndCallback onEnd_;
    bool reading_ = false;
    bool paused_ = false;
    bool scheduled_ = false;
    bool ended_ = false;
    bool shutDown_ = false;
    bool closed_ = false;
  };

  class Listener final : public TcpListener {
   public:
    Listener(FakeNetwork& network, std::string key, int port, AcceptCallback onAccept, bool outside)
        : network_(network),
          key_(std::move(key)),
          port_(port),
          onAccept_(std::move(onAccept)),
          outside_(outside) {
      network_.listeners_[key_] = this;
    }
    ~Listener() override {
      *alive_ = false;
      network_.listeners_.erase(key_);
    }

    int port() const override { return port_; }
    void onExhausted(ExhaustedCallback callback) override { onExhausted_ = std::move(callback); }
    void pause() override { paused_ = true; }
    void resume() override {
      paused_ = exhausted_ = false;
      retry_.reset();
      schedule();
    }
    bool isPaused() const override { return paused_ || exhausted_; }

    void enqueue(std::unique_ptr<Stream> stream) {
      backlog_.push_back(std::move(stream));
      schedule();
    }

   private:
    void schedule() {
      network_.loop_.post([this, alive = alive_] {
        if (*alive) acceptSome();
      });
    }

    void acceptSome() {
      std::shared_ptr<bool> alive = alive_;
      while (*alive && !paused_ && !exhausted_ && !backlog_.empty()) {
        if (network_.outOfDescriptors_ && !outside_) {
          exhausted_ = true;
          retry_ = network_.loop_.addTimer(1, 0, [this] {
            exhausted_ = false;
            acceptSome();
          });
          if (onExhausted_) onExhausted_(Status::failure("cannot accept: Too many open files"));
          return;
        }
        std::unique_ptr<Stream> stream = std::move(backlog_.front());
        backlog_.pop_front();
        onAccept_(std::move(stream));
      }
    }

    FakeNetwork& network_;
    std::string key_;
    int port_;
    AcceptCallback onAccept_;
    ExhaustedCallback onExhausted_;
    std::deque<std::unique_ptr<Stream>> backlog_;
    std::unique_ptr<Registration> retry_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool outside_;
    bool paused_ = false;
    bool exhausted_ = false;
  };

  // The outside view: everything it does happens on `inside`'s network.
  explicit FakeNetwork(FakeNetwork& inside) : loop_(inside.loop_), home_(inside) {}

  RunLoop& loop_;
  FakeNetwork& home_ = *this;                   // whose listeners and faults apply
  std::unique_ptr<FakeNetwork> outside_;        // none in the outside view itself
  std::map<std::string, Listener*> listeners_;  // by "ip port"
  std::set<std::string> swallowed_;
  int nextPort_ = 40000;
  bool outOfDescriptors_ = false;
};

}  // namespace zelto::testing
