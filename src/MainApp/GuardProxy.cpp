#include "MainApp/GuardProxy.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "App/Blocking/Helpers/NormalizedURL.h"
#include "App/Data/Schedules/NSTimeIntervalFormatter.h"
#include "MainApp/BlockPage.h"
#include "MainApp/ProxyResolver.h"
#include "Platform/Check.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/DescriptorLimit.h"
#include "Platform/Linux/UvNetwork.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Log.h"

namespace zelto {

GuardProxy::GuardProxy(Settings settings)
    : settings_(std::move(settings)), zeltoURL_([this] { return &pageRecord_; }) {}

GuardProxy::~GuardProxy() = default;

void GuardProxy::applicationDidFinishLaunching() {
  RunLoop& loop = Application::mainRunLoop();
  auto* uvLoop = dynamic_cast<UvRunLoop*>(&loop);
  ZELTO_CHECK(uvLoop != nullptr, "the main loop is a libuv loop");
  log::info("Zelto {} serving the guard's filtering proxy as user {}", ZELTO_VERSION, ::getuid());
  if (::geteuid() == 0)
    log::warning("The guard's proxy runs as root; it is meant to run unprivileged");
  if (Status loaded = reload(); !loaded.ok()) {
    // The guard writes the file before it starts this process: this is damage, not a race.
    // Nothing is blocked until a SIGHUP finds a good file.
    log::error("No locks to decide with: {}", loaded.message());
  }
  loop.onSignal(SIGHUP, [this] {
    if (Status loaded = reload(); !loaded.ok()) {
      log::error("Keeping the {} locks held: {}", locks_.size(), loaded.message());
    }
  });

  const size_t limit = DescriptorLimit::raise();
  const size_t forConnections = DescriptorLimit::forConnections(limit, DescriptorLimit::openNow());
  network_ = std::make_unique<UvNetwork>(*uvLoop);
  resolver_ = ProxyResolver::create(*uvLoop);
  addresses_ = std::make_unique<BlockedAddresses>(loop, *resolver_);
  addresses_->setPatterns(locks_.blockedSites(Env::clock().now()));
  addresses_->setActive(true);

  page_ = std::make_unique<BlockPageServer>(
      loop, *network_, [this](const std::string& method, const std::string& target) {
        return BlockPage::respond(method, target, proxy_ ? proxy_->port() : 0, timeLeft());
      });
  page_->setMaxConnections(std::max<size_t>(forConnections / 4, 4));
  if (Status started = page_->start(settings_.pagePort); started.ok()) {
    log::info("Block page served at http://localhost:{}/block/", page_->port());
  } else {
    // It tries again every second; blocked requests are refused outright meanwhile.
    log::error("Can't serve the block page on port {} yet: {}", settings_.pagePort,
               started.message());
  }

  ProxyServer::Options options;
  options.maxConnections = std::max<size_t>(forConnections * 3 / 8, 4);
  proxy_ = std::make_unique<ProxyServer>(
      loop, Env::clock(), *network_, *resolver_,
      [this](const ProxyRequest& request) { return decide(request); }, options);
  addresses_->onChange([this] { proxy_->redecide(); });
  if (Status started = proxy_->start(settings_.port); !started.ok()) {
    log::error("Can't start the filtering proxy on port {} yet: {}", settings_.port,
               started.message());
  }
}

void GuardProxy::applicationWillTerminate() {
  log::info("The guard's filtering proxy is quitting");
  if (proxy_) proxy_->stop();
  if (page_) page_->stop();
}

Status GuardProxy::reload() {
  Result<GuardLockSet> read = GuardLockSet::read(Env::fileSystem(), settings_.locksFile);
  if (!read.ok()) return read.status();
  locks_ = std::move(*read);
  log::info("Deciding with {} locks from {}", locks_.size(), settings_.locksFile);
  if (addresses_) addresses_->setPatterns(locks_.blockedSites(Env::clock().now()));
  if (proxy_) proxy_->redecide();
  return Status::success();
}

bool GuardProxy::isBlocked(const ProxyRequest& request, Date now) {
  if (locks_.blocks(request.url, now)) return true;
  if (!request.hostIsAddress || !addresses_) return false;
  // An address is blocked as any of the blocked hosts last seen there would be.
  const std::vector<std::string> names = addresses_->hostsAt(request.host);
  if (names.empty()) return false;
  Result<NormalizedURL> url = NormalizedURL::parse(request.url);
  if (!url.ok()) return false;
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return locks_.blocks(url->withHost(name).decisionURL(), now);
  });
}

ProxyVerdict GuardProxy::decide(const ProxyRequest& request) {
  ProxyVerdict verdict;
  if (!isBlocked(request, Env::clock().now())) return verdict;
  const int pagePort = page_ ? page_->port() : 0;
  if (request.isConnect || pagePort == 0) {
    verdict.kind = ProxyVerdict::Kind::kRefuse;
    verdict.reason = "Zelto blocks " + request.host + " until the locked block ends.";
  } else {
    pageRecord_.httpPort = pagePort;
    verdict.kind = ProxyVerdict::Kind::kRedirect;
    verdict.location = BlockPage::locationFor(zeltoURL_, request.url);
  }
  log::debug("Blocked {}", request.url);
  return verdict;
}

std::string GuardProxy::timeLeft() const {
  const Date now = Env::clock().now();
  const std::optional<Date> end = locks_.lastEnd(now);
  if (!end) return "The locked block has ended.";
  return "The locked block ends in " +
         NSTimeIntervalFormatter::relativeTimeForInterval(end->timeIntervalSinceDate(now)) + ".";
}

}  // namespace zelto
