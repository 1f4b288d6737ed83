// MainAppDelegate: the main application once its loop runs. It follows the blocking phase
// (BlockingMonitor) and enforces it: the block-page server and the filtering proxy run for the
// whole life of the process (passing everything outside blocking), blocked applications are
// ended while blocking is on and no break runs, and the profile's scripts and a desktop
// notification mark each start and end.
//
// What the proxy and the block page answer is WebDecider's, but for the settings page
// (SettingsGate), whose event streams hear of every change of configuration or phase; the phase is
// remembered between runs by PhaseMemory; both ports are read through ApplicationPorts.
//
// Ownership: `main` owns the one delegate for the life of the process; the delegate owns every
// component and the platform services they use, all bound to the main loop. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "App/Blocking/AppBlocker.h"
#include "App/Controller/Zelto.h"
#include "App/Data/PageTokens.h"
#include "MainApp/BlockPageServer.h"
#include "MainApp/BlockedAddresses.h"
#include "MainApp/BlockingMonitor.h"
#include "MainApp/GuardHandOver.h"
#include "MainApp/PhaseMemory.h"
#include "MainApp/ProxyServer.h"
#include "MainApp/ScriptRunner.h"
#include "MainApp/SettingsApi.h"
#include "MainApp/SettingsGate.h"
#include "MainApp/WebDecider.h"
#include "Platform/Application.h"
#include "Platform/DesktopNotifier.h"
#include "Platform/ExecutableWatch.h"
#include "Platform/FileWatcher.h"
#include "Platform/HostResolver.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/Network.h"
#include "Platform/ProcessTable.h"
#include "Platform/RunLoop.h"

namespace zelto {

class MainAppDelegate final : public ApplicationDelegate {
 public:
  // `runtimeDirectory`: where the phase is remembered (the instance lock's folder).
  explicit MainAppDelegate(std::string runtimeDirectory);
  ~MainAppDelegate() override;

  void applicationDidFinishLaunching() override;
  void applicationWillTerminate() override;

  // The proxy's port: the user default "ProxyPort" of the main application's domain, else
  // 8920 (ApplicationPorts).
  static int proxyPort();

 private:
  void configurationChanged();
  void phaseChanged(BlockingMonitor::Phase from, BlockingMonitor::Phase to);
  void followBlockPagePort();
  void followBlockedSites();
  void followBlockedApplications();
  void startServers(UvRunLoop& loop);
  // Tells the settings page's event streams; `configuration`: the configuration changed.
  void tellSettingsPage(bool configuration);

  PhaseMemory phaseMemory_;
  PageTokens pageTokens_;
  Zelto* zelto_ = nullptr;
  std::unique_ptr<FileWatcher> fileWatcher_;
  std::unique_ptr<Registration> fileMonitor_;
  std::unique_ptr<Registration> clockChanges_;
  // After a change of the block list: its matchers built and the heap trimmed (see
  // followBlockedSites).
  static constexpr double kSettleSeconds = 2;
  std::unique_ptr<Registration> settle_;
  std::unique_ptr<ProcessTable> processes_;
  std::unique_ptr<ExecutableWatch> executableWatch_;
  std::unique_ptr<DesktopNotifier> notifier_;
  std::unique_ptr<ScriptRunner> scripts_;
  std::unique_ptr<AppBlocker> appBlocker_;
  std::unique_ptr<Network> network_;  // before the servers, which use it
  std::unique_ptr<SettingsApi> settingsApi_;
  std::unique_ptr<SettingsGate> settings_;
  std::unique_ptr<BlockPageServer> blockPage_;
  std::unique_ptr<HostResolver> resolver_;
  std::unique_ptr<BlockedAddresses> blockedAddresses_;
  std::unique_ptr<WebDecider> web_;
  std::unique_ptr<ProxyServer> proxy_;
  std::unique_ptr<BlockingMonitor> monitor_;
  std::unique_ptr<GuardHandOver> guard_;
  int blockPagePort_ = 0;
  std::optional<std::string> blockedSites_;  // a digest of the site settings in force
  std::string blockedApplications_;          // the entries last handed over, as JSON text
};

}  // namespace zelto
