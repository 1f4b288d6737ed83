#include "Platform/Linux/AresResolver.h"

#include <ares.h>
#include <arpa/inet.h>
#include <uv.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "Platform/Linux/UvTimer.h"
#include "Platform/Log.h"

namespace zelto {

namespace {

// One caller waiting for an answer. Its handle and the lookup share it; whichever comes first
// (the answer or the cancellation) takes the callback.
struct Waiter {
  int port;
  HostResolver::Callback callback;
  bool cancelled = false;
};

class WaiterHandle final : public Registration {
 public:
  explicit WaiterHandle(std::shared_ptr<Waiter> waiter) : waiter_(std::move(waiter)) {}
  ~WaiterHandle() override { cancel(); }
  void cancel() override {
    if (!waiter_) return;
    waiter_->cancelled = true;
    waiter_->callback = nullptr;  // releases what it holds (empty while it runs: see deliver)
    waiter_.reset();
  }

 private:
  std::shared_ptr<Waiter> waiter_;
};

void deliver(const std::shared_ptr<Waiter>& waiter, Result<std::vector<SocketAddress>> result) {
  if (waiter->cancelled || !waiter->callback) return;
  // Taken out first: the callback may destroy its own handle.
  HostResolver::Callback callback = std::move(waiter->callback);
  waiter->callback = nullptr;
  callback(std::move(result));
}

SocketAddress withPort(const SocketAddress& address, int port) {
  sockaddr_storage storage{};
  if (address.family() == AF_INET) {
    std::memcpy(&storage, address.get(), sizeof(sockaddr_in));
    reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(static_cast<uint16_t>(port));
  } else {
    std::memcpy(&storage, address.get(), sizeof(sockaddr_in6));
    reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(static_cast<uint16_t>(port));
  }
  return *SocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&storage));
}

// Letters, digits, "-", "_" and dots, at most 253 characters (and a final dot): anything else
// never reaches the servers.
bool isHostName(std::string_view host) {
  if (host.ends_with('.')) host.remove_suffix(1);
  if (host.empty() || host.size() > 253) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

// A host as it may appear in a message: printable, and not too long.
std::string printable(std::string_view host) {
  std::string out;
  for (char c : host.substr(0, 100)) out += (c > 0x20 && c < 0x7f) ? c : '?';
  if (host.size() > 100) out += "...";
  return out;
}

std::string asciiLowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

struct AresResolver::Impl {
  // A socket of c-ares's, watched by the loop. Released by libuv once its handle is closed.
  struct Poll {
    uv_poll_t handle;
    Impl* impl;
    ares_socket_t fd;
  };
  // What a lookup handed to c-ares carries to its completion.
  struct Query {
    Impl* impl;
    std::string name;
  };
  struct Entry {
    std::vector<SocketAddress> addresses;  // port 0; empty for a failure
    std::string failure;
    double expires;
    std::list<std::string>::iterator age;
  };

  Impl(UvRunLoop& loop, const Clock& clock, Options options)
      : loop(loop), clock(clock), options(std::move(options)), timer(loop, [this] { onTimer(); }) {}

  ~Impl() {
    destroying = true;
    if (channel != nullptr) ares_destroy(channel);  // completes every lookup, unanswered
    for (auto& [fd, poll] : polls) closePoll(poll);
  }

  Status start() {
    static std::once_flag initialised;
    static int initStatus = ARES_SUCCESS;
    std::call_once(initialised, [] { initStatus = ares_library_init(ARES_LIB_INIT_ALL); });
    if (initStatus != ARES_SUCCESS) {
      return Status::failure(std::string("cannot set up c-ares: ") + ares_strerror(initStatus));
    }
    ares_options settings{};
    int mask = ARES_OPT_SOCK_STATE_CB;
    settings.sock_state_cb = &Impl::onSocketState;
    settings.sock_state_cb_data = this;
    if (options.timeoutMilliseconds > 0) {
      settings.timeout = options.timeoutMilliseconds;
      mask |= ARES_OPT_TIMEOUTMS;
    }
    if (options.tries > 0) {
      settings.tries = options.tries;
      mask |= ARES_OPT_TRIES;
    }
    if (int error = ares_init_options(&channel, &settings, mask); error != ARES_SUCCESS) {
      channel = nullptr;
      return Status::failure(std::string("cannot set up the resolver: ") + ares_strerror(error));
    }
    if (!options.servers.empty()) {
      if (int error = ares_set_servers_ports_csv(channel, options.servers.c_str());
          error != ARES_SUCCESS) {
        return Status::failure("cannot use the name servers " + options.servers + ": " +
                               ares_strerror(error));
      }
    }
    return Status::success();
  }

  void answer(const std::shared_ptr<Waiter>& waiter, Result<std::vector<SocketAddress>> result) {
    loop.post(
        [waiter, result = std::move(result)]() mutable { deliver(waiter, std::move(result)); });
  }

  Result<std::vector<SocketAddress>> resultFor(const std::string& name, const Entry& entry,
                                               int port) const {
    if (entry.addresses.empty()) {
      return Status::failure("cannot resolve " + name + ": " + entry.failure);
    }
    std::vector<SocketAddress> addresses;
    addresses.reserve(entry.addresses.size());
    for (const SocketAddress& address : entry.addresses) {
      addresses.push_back(withPort(address, port));
    }
    return addresses;
  }

  // The live cache entry of `name`, or null (an expired one is dropped).
  const Entry* cached(const std::string& name) {
    auto it = cache.find(name);
    if (it == cache.end()) return nullptr;
    if (it->second.expires > clock.monotonicSeconds()) return &it->second;
    ages.erase(it->second.age);
    cache.erase(it);
    return nullptr;
  }

  const Entry& store(const std::string& name, Entry entry) {
    if (auto it = cache.find(name); it != cache.end()) {
      ages.erase(it->second.age);
      cache.erase(it);
    }
    while (!cache.empty() && cache.size() >= std::max<size_t>(options.cacheEntries, 1)) {
      cache.erase(ages.front());
      ages.pop_front();
    }
    ages.push_back(name);
    entry.age = std::prev(ages.end());
    return cache.emplace(name, std::move(entry)).first->second;
  }

  void lookUp(const std::string& name) {
    ++started;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    // May complete at once (a name from the hosts file): finish posts the answers even then.
    ares_getaddrinfo(channel, name.c_str(), nullptr, &hints, &Impl::onAnswer,
                     new Query{this, name});
    scheduleTimeout();
  }

  static void onAnswer(void* arg, int status, int, ares_addrinfo* info) {
    std::unique_ptr<Query> query(static_cast<Query*>(arg));
    std::unique_ptr<ares_addrinfo, void (*)(ares_addrinfo*)> owned(info, &ares_freeaddrinfo);
    if (query->impl->destroying) return;
    query->impl->finish(query->name, status, info);
  }

  void finish(const std::string& name, int status, const ares_addrinfo* info) {
    Entry entry{};
    double ttl = options.maximumTtlSeconds;
    if (status == ARES_SUCCESS && info != nullptr) {
      for (const ares_addrinfo_node* node = info->nodes; node != nullptr; node = node->ai_next) {
        auto address = SocketAddress::fromSockaddr(node->ai_addr);
        if (!address) continue;
        ttl = std::min(ttl, static_cast<double>(std::max(node->ai_ttl, 0)));
        const std::string ip = address->ip();
        const bool seen = std::any_of(entry.addresses.begin(), entry.addresses.end(),
                                      [&](const SocketAddress& a) { return a.ip() == ip; });
        if (!seen) entry.addresses.push_back(withPort(*address, 0));
      }
      for (const ares_addrinfo_cname* cname = info->cnames; cname != nullptr; cname = cname->next) {
        ttl = std::min(ttl, static_cast<double>(std::max(cname->ttl, 0)));
      }
    }
    if (entry.addresses.empty()) {
      entry.failure = status == ARES_SUCCESS ? "no address" : ares_strerror(status);
      entry.expires = clock.monotonicSeconds() + options.failureTtlSeconds;
    } else {
      entry.expires = clock.monotonicSeconds() +
                      std::clamp(ttl, options.minimumTtlSeconds,
                                 std::max(options.minimumTtlSeconds, options.maximumTtlSeconds));
    }
    const Entry& stored = store(name, std::move(entry));
    auto waiting = pending.extract(name);
    if (waiting.empty()) return;
    for (const auto& waiter : waiting.mapped())
      answer(waiter, resultFor(name, stored, waiter->port));
  }

  static void onSocketState(void* data, ares_socket_t fd, int readable, int writable) {
    auto* impl = static_cast<Impl*>(data);
    auto it = impl->polls.find(fd);
    if (!readable && !writable) {
      if (it != impl->polls.end()) {
        closePoll(it->second);
        impl->polls.erase(it);
      }
      return;
    }
    Poll* poll = nullptr;
    if (it != impl->polls.end()) {
      poll = it->second;
    } else {
      poll = new Poll{{}, impl, fd};
      if (int error = uv_poll_init_socket(impl->loop.loop(), &poll->handle, fd); error != 0) {
        // The lookup on this socket then ends with c-ares's timeout.
        log::warning("resolver: cannot watch socket {}: {}", fd, uv_strerror(error));
        delete poll;
        return;
      }
      poll->handle.data = poll;
      impl->polls.emplace(fd, poll);
    }
    uv_poll_start(&poll->handle, (readable ? UV_READABLE : 0) | (writable ? UV_WRITABLE : 0),
                  &Impl::onPoll);
  }

  static void onPoll(uv_poll_t* handle, int status, int events) {
    auto* poll = static_cast<Poll*>(handle->data);
    Impl* impl = poll->impl;
    const ares_socket_t fd = poll->fd;  // the poll may be closed while c-ares works
    ares_socket_t readFd = ARES_SOCKET_BAD;
    ares_socket_t writeFd = ARES_SOCKET_BAD;
    if (status < 0 || (events & (UV_READABLE | UV_DISCONNECT)) != 0) readFd = fd;
    if (status < 0 || (events & UV_WRITABLE) != 0) writeFd = fd;
    ares_process_fd(impl->channel, readFd, writeFd);
    impl->scheduleTimeout();
  }

  static void closePoll(Poll* poll) {
    uv_poll_stop(&poll->handle);
    uv_close(reinterpret_cast<uv_handle_t*>(&poll->handle),
             [](uv_handle_t* handle) { delete static_cast<Poll*>(handle->data); });
  }

  void onTimer() {
    ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // the timeouts that are due
    scheduleTimeout();
  }

  void scheduleTimeout() {
    timeval storage{};
    const timeval* next = ares_timeout(channel, nullptr, &storage);
    if (next == nullptr) {
      timer.stop();
    } else {
      timer.start(static_cast<double>(next->tv_sec) + static_cast<double>(next->tv_usec) / 1e6);
    }
  }

  UvRunLoop& loop;
  const Clock& clock;
  const Options options;
  ares_channel channel = nullptr;
  UvTimer timer;
  std::unordered_map<ares_socket_t, Poll*> polls;
  std::unordered_map<std::string, Entry> cache;
  std::list<std::string> ages;  // the cached names, oldest first
  // The names being looked up, with who waits for each.
  std::unordered_map<std::string, std::vector<std::shared_ptr<Waiter>>> pending;
  size_t started = 0;
  bool destroying = false;
};

Result<std::unique_ptr<AresResolver>> AresResolver::create(UvRunLoop& loop, const Clock& clock,
                                                           Options options) {
  auto impl = std::make_unique<Impl>(loop, clock, std::move(options));
  if (Status status = impl->start(); !status.ok()) return status;
  return std::unique_ptr<AresResolver>(new AresResolver(std::move(impl)));
}

AresResolver::AresResolver(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

AresResolver::~AresResolver() = default;

std::unique_ptr<Registration> AresResolver::resolve(const std::string& host, int port,
                                                    Callback callback) {
  auto waiter = std::make_shared<Waiter>(Waiter{port, std::move(callback)});
  auto handle = std::make_unique<WaiterHandle>(waiter);
  if (port < 0 || port > 65535) {
    impl_->answer(waiter, Status::failure("cannot resolve " + printable(host) +
                                          ": port out of range: " + std::to_string(port)));
    return handle;
  }
  std::string_view literal = host;
  if (literal.size() >= 2 && literal.front() == '[' && literal.back() == ']') {
    literal = literal.substr(1, literal.size() - 2);
  }
  if (auto address = SocketAddress::parse(std::string(literal), port); address.ok()) {
    impl_->answer(waiter, std::vector<SocketAddress>{*address});
    return handle;
  }
  if (!isHostName(host)) {
    impl_->answer(waiter,
                  Status::failure("cannot resolve " + printable(host) + ": not a host name"));
    return handle;
  }
  const std::string name = asciiLowercase(host);
  if (const Impl::Entry* entry = impl_->cached(name)) {
    impl_->answer(waiter, impl_->resultFor(name, *entry, port));
    return handle;
  }
  auto& waiting = impl_->pending[name];
  waiting.push_back(std::move(waiter));
  if (waiting.size() == 1) impl_->lookUp(name);  // else the lookup under way answers it too
  return handle;
}

size_t AresResolver::lookupsStarted() const { return impl_->started; }

size_t AresResolver::cachedNames() const { return impl_->cache.size(); }

}  // namespace zelto
