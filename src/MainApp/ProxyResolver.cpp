#include "MainApp/ProxyResolver.h"

#include "Platform/Env.h"
#include "Platform/Linux/AresResolver.h"
#include "Platform/Linux/UvTcpStream.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// Looks names up on libuv's thread pool: only when c-ares can't be set up.
class ThreadPoolResolver final : public HostResolver {
 public:
  explicit ThreadPoolResolver(UvRunLoop& loop) : loop_(loop) {}
  std::unique_ptr<Registration> resolve(const std::string& host, int port,
                                        Callback callback) override {
    return UvTcpStream::resolve(loop_, host, port, std::move(callback));
  }

 private:
  UvRunLoop& loop_;
};

}  // namespace

std::unique_ptr<HostResolver> ProxyResolver::create(UvRunLoop& loop) {
  auto ares = AresResolver::create(loop, Env::clock());
  if (ares.ok()) return std::move(*ares);
  log::error("Can't set up name lookups with c-ares ({}); using the system's resolver",
             ares.status().message());
  return std::make_unique<ThreadPoolResolver>(loop);
}

}  // namespace zelto
