#include "MainApp/MainAppDelegate.h"

#include "App/Blocking/Helpers/NormalizedURL.h"
#include "App/Blocking/InstalledApplications.h"
#include "App/Data/ApplicationPorts.h"
#include "App/Data/BundleIdentifiers.h"
#include "App/Helpers/LoggingManager.h"
#include "App/Helpers/NUIFileMonitor.h"
#include "MainApp/BlockPage.h"
#include "MainApp/ProxyResolver.h"
#include "Platform/Check.h"
#include "Platform/ClockChangeWatcher.h"
#include "Platform/Digest.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Linux/DescriptorLimit.h"
#include "Platform/Linux/InotifyExecutableWatch.h"
#include "Platform/Linux/InotifyFileWatcher.h"
#include "Platform/Linux/LibnotifyNotifier.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Linux/ProcessSpawner.h"
#include "Platform/Linux/UvNetwork.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Log.h"
#include "Platform/Memory.h"
#include "Platform/NotificationCenter.h"
#include "Platform/ProcessInfo.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {

// The bundle's zeltoctl (beside this program) opens the page; started detached, so nothing here
// waits for it or reaps it.
void openSettingsPage() {
  const std::string zeltoctl = path::appendingComponent(
      path::deletingLastComponent(Env::mainBundle().executablePath), "zeltoctl");
  auto started = ProcessSpawner::spawn({zeltoctl, "open"}, {.newSession = true, .detach = true});
  if (!started.ok()) {
    log::warning("Can't run {} open: {}", zeltoctl, started.status().message());
  }
}

}  // namespace

MainAppDelegate::MainAppDelegate(std::string runtimeDirectory)
    : phaseMemory_(Env::fileSystem(), runtimeDirectory),
      pageTokens_(Env::fileSystem(), Env::clock(), runtimeDirectory) {}

MainAppDelegate::~MainAppDelegate() {
  // The monitor and the watches call into the components: they go first.
  monitor_.reset();
  clockChanges_.reset();
  fileMonitor_.reset();
  proxy_.reset();
  blockPage_.reset();
  settings_.reset();
  settingsApi_.reset();
  web_.reset();  // what both servers answered with
  blockedAddresses_.reset();
  resolver_.reset();
  appBlocker_.reset();  // thaws what it froze
  scripts_.reset();     // ends what still runs
  notifier_.reset();
  executableWatch_.reset();
  processes_.reset();
  fileWatcher_.reset();
}

int MainAppDelegate::proxyPort() {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.addSuiteNamed(ApplicationPorts::kDomain);
  const ApplicationPorts::Port port = ApplicationPorts::proxy(defaults);
  if (port.storedIsNoPort()) {
    log::warning("The ProxyPort default ({}) is no port; using {}", port.stored->dump(),
                 port.number);
  }
  return port.number;
}

void MainAppDelegate::applicationDidFinishLaunching() {
  LoggingManager::setup();
  log::info("Loading Zelto {}", ZELTO_VERSION);
  RunLoop& loop = Application::mainRunLoop();
  auto* uvLoop = dynamic_cast<UvRunLoop*>(&loop);
  ZELTO_CHECK(uvLoop != nullptr, "the main loop is a libuv loop");
  zelto_ = &Zelto::shared();
  zelto_->keepLockedPeriods();
  zelto_->refreshPrefs();

  fileWatcher_ = std::make_unique<InotifyFileWatcher>(loop);
  processes_ = std::make_unique<LinuxProcessTable>();
  executableWatch_ = std::make_unique<InotifyExecutableWatch>(loop);
  // A click on a notification opens the settings page, as the desktop's entry does.
  notifier_ = std::make_unique<LibnotifyNotifier>(
      "Zelto", LibnotifyNotifier::Action{"Open Zelto", openSettingsPage});
  scripts_ = std::make_unique<ScriptRunner>(loop);
  appBlocker_ = std::make_unique<AppBlocker>(loop, *processes_, *executableWatch_);

  startServers(*uvLoop);

  followBlockedSites();
  followBlockedApplications();
  monitor_ = std::make_unique<BlockingMonitor>(
      loop, *zelto_, phaseMemory_.recalled().value_or(BlockingMonitor::Phase::kOff),
      [this](BlockingMonitor::Phase from, BlockingMonitor::Phase to) { phaseChanged(from, to); });

  if (auto path = ZeltoPreferences::standardConfigurationPath()) {
    fileMonitor_ = NUIFileMonitor::watch(*fileWatcher_, *path, [this] {
      log::debug("Detected preferences changed");
      zelto_->preferencesFileChanged();
      configurationChanged();
    });
  }
  auto clockChanges = ClockChangeWatcher::watch(loop, [this] {
    log::info("The clock changed; looking at the blocking phase again");
    monitor_->evaluate();
  });
  if (clockChanges.ok()) {
    clockChanges_ = std::move(*clockChanges);
  } else {
    log::warning("Can't watch for clock changes: {}", clockChanges.status().message());
  }

  monitor_->evaluate();
  // The phase found at start is enforced even when it is no change (a restart mid-period).
  appBlocker_->setMode(
      monitor_->phase() == BlockingMonitor::Phase::kEnforcing ? AppBlocker::Mode::kEnforcing
      : monitor_->phase() == BlockingMonitor::Phase::kBreak   ? AppBlocker::Mode::kBreak
                                                              : AppBlocker::Mode::kOff);
  blockedAddresses_->setActive(monitor_->phase() != BlockingMonitor::Phase::kOff);
  phaseMemory_.remember(monitor_->phase());
  guard_ = std::make_unique<GuardHandOver>(loop);
  guard_->follow(*zelto_, proxyPort());
}

void MainAppDelegate::startServers(UvRunLoop& loop) {
  // Connections are what runs out first under load: as many descriptors as allowed, shared
  // between the two servers (a proxied connection takes two), with a reserve for the rest.
  const size_t limit = DescriptorLimit::raise();
  const size_t forConnections = DescriptorLimit::forConnections(limit, DescriptorLimit::openNow());
  const size_t proxyConnections = std::max<size_t>(forConnections * 3 / 8, 4);
  const size_t pageConnections = std::max<size_t>(forConnections / 4, 4);
  log::info("{} file descriptors: up to {} proxy and {} block page connections", limit,
            proxyConnections, pageConnections);

  network_ = std::make_unique<UvNetwork>(loop);
  // The settings page's API answers as zeltoctl does, for the session the gate lets in.
  settingsApi_ = std::make_unique<SettingsApi>(
      *zelto_, [] { return InstalledApplications::list(Env::fileSystem()); });
  settings_ = std::make_unique<SettingsGate>(
      pageTokens_, Env::fileSystem(), SettingsGate::bundleWebFolder().value_or(""),
      [this](std::string_view method, std::string_view target, std::string_view body) {
        return settingsApi_->answer(method, target, body);
      },
      [this] { return settingsApi_->status(); });
  blockPage_ = std::make_unique<BlockPageServer>(
      loop, *network_, [this](const HttpRequestHead& head, const std::string& body) {
        if (std::optional<HttpAnswer> page = settings_->answer(head, body)) return *page;
        return web_->blockPage(head.method, head.target);
      });
  blockPage_->setMaxConnections(pageConnections);
  blockPage_->setRefusalFields(SettingsGate::securityFields());
  followBlockPagePort();

  resolver_ = ProxyResolver::create(loop);
  blockedAddresses_ = std::make_unique<BlockedAddresses>(loop, *resolver_);
  // Made before the loop dispatches anything: no request reaches either server earlier.
  web_ = std::make_unique<WebDecider>(
      *zelto_, *blockedAddresses_,
      [this] { return monitor_ && monitor_->phase() == BlockingMonitor::Phase::kEnforcing; },
      [this] { return proxy_ ? proxy_->port() : 0; });
  ProxyServer::Options options;
  options.maxConnections = proxyConnections;
  proxy_ = std::make_unique<ProxyServer>(
      loop, Env::clock(), *network_, *resolver_,
      [this](const ProxyRequest& request) { return web_->decide(request); }, options);
  blockedAddresses_->onChange([this] { proxy_->redecide(); });
  const int port = proxyPort();
  if (Status started = proxy_->start(port); !started.ok()) {
    // Nothing enforces web blocking without it: it tries again every second.
    log::error("Can't start the filtering proxy on port {} yet: {}", port, started.message());
  }
}

void MainAppDelegate::applicationWillTerminate() {
  log::info("Zelto is quitting");
  // Programs frozen for blocking must not stay frozen once nothing would thaw them.
  if (appBlocker_) appBlocker_->shutdown();
  if (proxy_) proxy_->stop();
  if (blockPage_) blockPage_->stop();
  if (scripts_) scripts_->shutdown();
}

void MainAppDelegate::configurationChanged() {
  // The new record first, so that the port and the entries are the new ones when the phase
  // is decided.
  zelto_->refreshPrefs();
  followBlockedSites();
  followBlockPagePort();
  followBlockedApplications();
  monitor_->evaluate();
  if (guard_) guard_->follow(*zelto_, proxyPort());
  tellSettingsPage(true);
}

void MainAppDelegate::tellSettingsPage(bool configuration) {
  if (blockPage_ && settings_ && blockPage_->streamCount() > 0) {
    blockPage_->broadcast(settings_->statusEvent(configuration));
  }
}

void MainAppDelegate::followBlockPagePort() {
  const int port = ApplicationPorts::blockPage(zelto_->prefs()).number;
  if (port == blockPagePort_) return;
  blockPagePort_ = port;
  if (Status started = blockPage_->start(port); started.ok()) {
    log::info("Block page served at http://localhost:{}/block/", port);
  } else {
    // The server keeps trying every second until the port is free.
    log::error("Can't serve the block page on port {} yet: {}", port, started.message());
  }
}

void MainAppDelegate::followBlockedSites() {
  ZeltoPreferences* prefs = zelto_->prefs();
  ProfileZeltoPreferences* profile = prefs != nullptr ? prefs->defaultProfile() : nullptr;
  // Only a digest of the settings is kept: a list of many thousand sites would otherwise be
  // held once more here.
  std::string sites = profile == nullptr
                          ? std::string()
                          : Digest::md5Hex(nlohmann::json::array({profile->enableWhitelistWebsites,
                                                                  profile->blockedWebsites,
                                                                  profile->whitelistedWebsites})
                                               .dump());
  if (blockedSites_ == sites) return;
  const bool first = !blockedSites_;
  blockedSites_ = std::move(sites);
  // Addresses are looked up for the hosts a block list names; an allow list blocks every
  // address it doesn't name anyway.
  std::vector<std::string> blocked;
  if (profile != nullptr && !profile->enableWhitelistWebsites) blocked = profile->blockedWebsites;
  blockedAddresses_->setPatterns(blocked);
  // A moment later the matchers are built, if no request has built them yet, and the copies the
  // list was read, sorted and built from, which leave holes in the heap as large as the list,
  // are given back.
  settle_ = Application::mainRunLoop().addTimer(kSettleSeconds, 0, [this] {
    std::unique_ptr<Registration> fired = std::move(settle_);
    zelto_->urlMatchManager().matches();
    Memory::releaseFree();
  });
  if (first) return;
  // The matchers were taken from the record at start; later edits take them again, and what is
  // open is looked at again.
  Env::notificationCenter().post(ZeltoURLMatcherManager::kDidUpdateBlockSettings);
  proxy_->redecide();
}

void MainAppDelegate::followBlockedApplications() {
  ZeltoPreferences* prefs = zelto_->prefs();
  ProfileZeltoPreferences* profile = prefs != nullptr ? prefs->defaultProfile() : nullptr;
  const nlohmann::json entries =
      profile != nullptr ? profile->blockedApplications : nlohmann::json::array();
  std::string text = entries.dump();
  if (text == blockedApplications_) return;
  blockedApplications_ = std::move(text);
  appBlocker_->setEntries(entries, Env::fileSystem(),
                          ProcessInfo::environmentValue("PATH").value_or("/usr/bin:/bin"));
}

void MainAppDelegate::phaseChanged(BlockingMonitor::Phase from, BlockingMonitor::Phase to) {
  using Phase = BlockingMonitor::Phase;
  // Remembered first: a restart after this moment, however soon, is no new change of phase, so
  // its scripts run at most once.
  phaseMemory_.remember(to);
  // Enforcement before scripts and notifications, which may take their time.
  appBlocker_->setMode(to == Phase::kEnforcing ? AppBlocker::Mode::kEnforcing
                       : to == Phase::kBreak   ? AppBlocker::Mode::kBreak
                                               : AppBlocker::Mode::kOff);
  // Kept up to date through breaks, so that addresses are known the moment blocking resumes.
  blockedAddresses_->setActive(to != Phase::kOff);
  // Tunnels and kept connections opened while everything passed are decided again.
  if (to == Phase::kEnforcing) proxy_->redecide();
  if (guard_) guard_->follow(*zelto_, proxyPort());
  tellSettingsPage(false);

  ZeltoPreferences* prefs = zelto_->prefs();
  ProfileZeltoPreferences* profile = prefs != nullptr ? prefs->defaultProfile() : nullptr;
  auto script = [&](const char* name, const std::string ProfileZeltoPreferences::*field) {
    if (profile != nullptr) scripts_->run(name, profile->*field);
  };
  if (from == Phase::kBreak) script("unbreakScript", &ProfileZeltoPreferences::unbreakScript);
  if (to == Phase::kBreak) script("breakScript", &ProfileZeltoPreferences::breakScript);
  if (from == Phase::kOff) {
    script("zeltoScript", &ProfileZeltoPreferences::zeltoScript);
    notifier_->notify("Zelto: blocking started", BlockPage::timeLeftText(*zelto_));
  }
  if (to == Phase::kOff) {
    script("unzeltoScript", &ProfileZeltoPreferences::unzeltoScript);
    notifier_->notify("Zelto: blocking ended", "Everything is open again.");
  }
}

}  // namespace zelto
