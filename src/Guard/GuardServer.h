// GuardServer: the system guard's socket. Each connection carries one request, read to the end of
// the client's sending half, and gets one answer; who sent it is the kernel's word
// (SO_PEERCRED), handed to the handler with the request's bytes.
//
// Hostile clients can't hold it up: a request is at most kMaxRequestBytes, a connection lives at
// most kConnectionSeconds (reading and answering), at most kMaxConnections are open at once
// (more are closed at once), and nothing ever blocks the loop.
//
// Owned by the guard; the loop's thread. The handler runs on the loop.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include "Platform/Linux/LocalListener.h"
#include "Platform/RunLoop.h"

namespace zelto {

class GuardServer {
 public:
  static constexpr size_t kMaxRequestBytes = 16u << 20;
  static constexpr size_t kMaxConnections = 32;
  static constexpr double kConnectionSeconds = 10;

  using Handler =
      std::function<std::string(const LocalListener::Peer& peer, const std::string& request)>;

  static Result<std::unique_ptr<GuardServer>> start(RunLoop& loop, const std::string& path,
                                                    Handler handler);
  ~GuardServer();

 private:
  struct Connection;

  GuardServer(RunLoop& loop, LocalListener listener, Handler handler);
  void acceptAll();
  void read(Connection& connection);
  void write(Connection& connection);
  void close(Connection& connection);

  RunLoop& loop_;
  LocalListener listener_;
  Handler handler_;
  std::unique_ptr<Registration> accepting_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zelto
