// The filtering proxy's cost to a browser: sequential GETs from a client to an origin on
// loopback, direct and through the proxy, and a CONNECT tunnel's throughput.
//
// In-process: the proxy runs on a UvRunLoop of its own thread, on 127.0.0.1 at a free port,
// with a decider that passes everything ("pass"), or one that asks a controller loaded with
// bench/configs/typical.json whether the URL is blocked ("controller"; the origin's URLs are
// not). The origin is a cpp-httplib server answering 128 bytes or 64 KiB. The client is
// cpp-httplib's, one connection per request both ways: the proxy closes each client connection
// after its one request, so the direct figure opens a connection per request too, to compare
// like with like. Wall time per request (the latency) and requests per second; the proxy's
// added latency is the proxied figure minus the direct one (scripts/bench makes that row).
//
// The tunnel: one CONNECT to a loopback sink that acknowledges every MiB it receives with one
// byte; an iteration sends one MiB and waits for its acknowledgement (bytes per second).
// Each figure is the median of three repetitions: the machine is shared.
//
// Run by hand: build/zelto_bench --benchmark_filter=Proxy
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <netinet/in.h>
#include <spdlog/spdlog.h>
#include <sys/socket.h>

#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "App/Controller/Zelto.h"
#include "App/Data/Preferences/ZeltoPreferences.h"
#include "MainApp/ProxyServer.h"
#include "Platform/Linux/AresResolver.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/UvNetwork.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeClock.h"
#include "Support/TestEnv.h"

namespace zelto {
namespace {

constexpr size_t kTunnelChunk = 1024 * 1024;

// A UvRunLoop running on a thread of its own; `call` runs work on it and waits.
class LoopThread {
 public:
  LoopThread() : thread_([this] { loop_.run(); }) {}
  ~LoopThread() {
    loop_.stop();
    thread_.join();
  }
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  UvRunLoop& loop() { return loop_; }
  void call(const std::function<void()>& work) {
    std::promise<void> done;
    loop_.post([&] {
      work();
      done.set_value();
    });
    done.get_future().wait();
  }

 private:
  UvRunLoop loop_;
  std::thread thread_;
};

// The origin: a cpp-httplib server on 127.0.0.1 answering /body/N with N bytes.
class Origin {
 public:
  Origin() {
    server_.Get(R"(/body/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(std::string(std::stoul(request.matches[1]), 'x'), "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // Already listening: connections wait in the backlog until the thread accepts them.
  }
  ~Origin() {
    server_.stop();
    thread_.join();
  }
  Origin(const Origin&) = delete;
  Origin& operator=(const Origin&) = delete;

  int port() const { return port_; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

// The controller the "controller" decider asks: typical.json in a private home.
class Controller {
 public:
  static std::optional<std::string> readConfig() {
    std::ifstream in(std::string(ZELTO_BENCH_SOURCE_CONFIGS) + "/typical.json", std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  explicit Controller(const std::string& config) {
    ZeltoPreferences::resetSharedInstanceForTesting();
    env_.temp().write(".local/share/Zelto/default.cfg", config);
    zelto_ = std::make_unique<Zelto>(clock_);
  }
  ~Controller() {
    zelto_.reset();
    ZeltoPreferences::resetSharedInstanceForTesting();
  }
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  bool loaded() const { return zelto_->prefs() != nullptr; }
  bool urlIsBlocked(const std::string& url) { return zelto_->urlIsBlocked(url); }

 private:
  testing::TestEnv env_{testing::builtAgentBundle()};
  FakeClock clock_;
  Env::ScopedOverride clockOverride_{Env::Services{.clock = &clock_}};
  std::unique_ptr<Zelto> zelto_;
};

// The proxy on its own loop thread with `decider`; stopped and destroyed on that thread.
class Proxy {
 public:
  explicit Proxy(ProxyServer::Decider decider) {
    loop_.call([&] {
      resolver_ = std::move(*AresResolver::create(loop_.loop(), clock_));
      server_ = std::make_unique<ProxyServer>(loop_.loop(), clock_, network_, *resolver_,
                                              std::move(decider));
      started_ = server_->start(0).ok();
    });
  }
  ~Proxy() {
    loop_.call([&] {
      server_->stop();
      server_.reset();
      resolver_.reset();
      sinkStream_.reset();
      sink_.reset();
    });
  }
  Proxy(const Proxy&) = delete;
  Proxy& operator=(const Proxy&) = delete;

  bool started() const { return started_; }
  int port() const { return server_->port(); }

  // A sink on this loop that answers one byte for every kTunnelChunk it receives; its port.
  int startSink() {
    int port = 0;
    loop_.call([&] {
      auto listener = network_.listen("127.0.0.1", 0, [this](auto stream) {
        sinkStream_ = std::move(stream);
        sinkStream_->startReading(
            [this](std::string_view bytes) {
              for (sunk_ += bytes.size(); sunk_ >= kTunnelChunk; sunk_ -= kTunnelChunk) {
                sinkStream_->write("k").ignoreError();
              }
            },
            [this](const Status&) { sinkStream_.reset(); });
      });
      if (!listener.ok()) return;
      sink_ = std::move(*listener);
      port = sink_->port();
    });
    return port;
  }

 private:
  LoopThread loop_;
  SystemClock clock_;
  UvNetwork network_{loop_.loop()};
  std::unique_ptr<AresResolver> resolver_;
  std::unique_ptr<ProxyServer> server_;
  bool started_ = false;
  std::unique_ptr<TcpListener> sink_;
  std::unique_ptr<TcpStream> sinkStream_;
  size_t sunk_ = 0;
};

void quietLog() { spdlog::set_level(spdlog::level::warn); }

// GETs /body/N from the origin, through the proxy when there is one: one connection each.
void getLoop(benchmark::State& state, Proxy* proxy) {
  Origin origin;
  httplib::Client client("127.0.0.1", origin.port());
  if (proxy != nullptr) client.set_proxy("127.0.0.1", proxy->port());
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string path = "/body/" + std::to_string(size);
  auto fetch = [&]() -> std::optional<std::string> {
    auto response = client.Get(path);
    if (!response) return "no answer: " + httplib::to_string(response.error());
    if (response->status != 200 || response->body.size() != size) {
      return "answered " + std::to_string(response->status) + " with " +
             std::to_string(response->body.size()) + " bytes";
    }
    return std::nullopt;
  };
  if (auto problem = fetch()) {  // also builds the controller's matchers
    state.SkipWithError(problem->c_str());
    return;
  }
  for (auto _ : state) {
    if (auto problem = fetch()) {
      state.SkipWithError(problem->c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void BM_ProxyDirectGet(benchmark::State& state) {
  quietLog();
  getLoop(state, nullptr);
}

void BM_ProxyPassGet(benchmark::State& state) {
  quietLog();
  Proxy proxy([](const ProxyRequest&) { return ProxyVerdict{}; });
  if (!proxy.started()) return state.SkipWithError("the proxy did not start");
  getLoop(state, &proxy);
}

void BM_ProxyControllerGet(benchmark::State& state) {
  quietLog();
  auto config = Controller::readConfig();
  if (!config) return state.SkipWithError("no typical.json");
  Controller controller(*config);
  if (!controller.loaded()) return state.SkipWithError("typical.json did not load");
  Proxy proxy([&controller](const ProxyRequest& request) {
    if (!controller.urlIsBlocked(request.url)) return ProxyVerdict{};
    return ProxyVerdict{ProxyVerdict::Kind::kRedirect, "http://localhost:8919/block/", ""};
  });
  if (!proxy.started()) return state.SkipWithError("the proxy did not start");
  getLoop(state, &proxy);
}

// Writes all of `bytes`; false when the connection failed.
bool sendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void BM_ProxyTunnel(benchmark::State& state) {
  quietLog();
  Proxy proxy([](const ProxyRequest&) { return ProxyVerdict{}; });
  const int sinkPort = proxy.startSink();
  if (!proxy.started() || sinkPort == 0) return state.SkipWithError("no proxy or no sink");
  FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(proxy.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd.valid() ||
      ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return state.SkipWithError("can't connect to the proxy");
  }
  const std::string authority = "127.0.0.1:" + std::to_string(sinkPort);
  std::string head;
  char byte = 0;
  if (!sendAll(fd.get(), "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n")) {
    return state.SkipWithError("can't send CONNECT");
  }
  while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd.get(), &byte, 1, 0) == 1) {
    head += byte;
  }
  if (head.rfind("HTTP/1.1 200", 0) != 0) return state.SkipWithError("CONNECT was not answered");
  const std::string chunk(kTunnelChunk, 't');
  for (auto _ : state) {
    if (!sendAll(fd.get(), chunk) || ::recv(fd.get(), &byte, 1, 0) != 1) {
      return state.SkipWithError("the tunnel broke");
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kTunnelChunk));
}

BENCHMARK(BM_ProxyDirectGet)
    ->ArgName("body")
    ->Arg(128)
    ->Arg(65536)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProxyPassGet)
    ->ArgName("body")
    ->Arg(128)
    ->Arg(65536)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProxyControllerGet)
    ->ArgName("body")
    ->Arg(128)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProxyTunnel)
    ->UseRealTime()
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelto
