#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Linux/LinuxWorkspace.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/PropertyList.h"
#include "Support/ChildProcess.h"
#include "Support/FakeRunLoop.h"
#include "Support/LogCapture.h"
#include "Support/RunLoopUntil.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;
using testing::ChildProcess;
using testing::eventually;
using testing::LogCapture;
using testing::readWholeFile;
using testing::runLoopUntil;
using testing::runPosted;
using testing::TempDir;

std::string linkTarget(const std::string& path) {
  std::error_code error;
  return fs::read_symlink(path, error).string();
}

bool processExists(pid_t pid) { return fs::exists("/proc/" + std::to_string(pid)); }

std::string infoPlist(const std::string& identifier, const std::string& executable) {
  return *PropertyList::toXML(
      {{"CFBundleIdentifier", identifier}, {"CFBundleExecutable", executable}});
}

// Whether this process holds a pidfd of `pid`: the workspace keeps one for each process it lists.
bool holdsPidfdOf(pid_t pid) {
  const std::string line = "\nPid:\t" + std::to_string(pid) + "\n";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fdinfo", error)) {
    if (readWholeFile(entry.path()).find(line) != std::string::npos) return true;
  }
  return false;
}

bool lists(const std::vector<RunningApplication>& applications, pid_t pid) {
  return std::any_of(applications.begin(), applications.end(),
                     [&](const auto& application) { return application.processIdentifier == pid; });
}

class LinuxWorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy of the stand-in bundle, so that only this test's processes run from it. The bundle
    // path is made canonical, as the workspace reports it.
    fs::create_directories(temp / "Apps/Zelto.app/Contents/MacOS");
    bundle = fs::canonical(temp / "Apps/Zelto.app").string();
    fs::copy_file(std::string(ZELTO_TEST_APP_DIR) + "/Contents/Info.plist",
                  bundle + "/Contents/Info.plist");
    fs::copy_file(std::string(ZELTO_TEST_APP_DIR) + "/Contents/MacOS/Zelto", executable());
  }

  void TearDown() override {
    // The observers capture the test's locals, which are gone by now.
    for (auto token : observers) workspace.removeRunningApplicationsObserver(token);
    for (pid_t pid : launched) ::kill(pid, SIGKILL);
    // Let the workspace reap them before it goes.
    runLoopUntil(loop,
                 [&] { return std::none_of(launched.begin(), launched.end(), processExists); });
  }

  std::string executable() const { return bundle + "/Contents/MacOS/Zelto"; }

  // This test's instances among the running applications.
  std::vector<RunningApplication> ours() {
    std::vector<RunningApplication> found;
    for (auto& application : workspace.runningApplications()) {
      if (application.bundlePath == bundle) found.push_back(application);
    }
    return found;
  }

  pid_t launchAndWait() {
    EXPECT_TRUE(workspace.launchApplication(bundle).ok());
    pid_t pid = 0;
    EXPECT_TRUE(runLoopUntil(loop, [&] {
      auto found = ours();
      if (found.empty()) return false;
      pid = found.front().processIdentifier;
      return true;
    }));
    if (pid > 0) launched.push_back(pid);
    return pid;
  }

  // Observes the fixture's workspace until the test ends.
  void observe(Workspace::Observer observer) {
    observers.push_back(workspace.addRunningApplicationsObserver(std::move(observer)));
  }

  TempDir temp;
  std::string bundle;
  UvRunLoop loop;
  LinuxWorkspace workspace{loop};
  std::vector<pid_t> launched;
  std::vector<Workspace::Token> observers;
};

// --- Launching and listing -------------------------------------------------------------------

TEST_F(LinuxWorkspaceTest, ALaunchedBundleIsListedWithItsIdentifier) {
  std::string pidLog = temp / "pids";
  ::setenv("ZELTO_STANDIN_LOG", pidLog.c_str(), 1);
  pid_t pid = launchAndWait();
  ::unsetenv("ZELTO_STANDIN_LOG");
  ASSERT_GT(pid, 0);

  auto found = ours();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].bundleIdentifier, "Quarnix.zelto");
  EXPECT_FALSE(found[0].isTerminated);
  EXPECT_EQ(::getsid(pid), pid);  // a session of its own

  // It got this process's environment: the stand-in writes its pid where the variable says.
  ASSERT_TRUE(
      runLoopUntil(loop, [&] { return readWholeFile(pidLog) == std::to_string(pid) + "\n"; }));
  EXPECT_EQ(linkTarget("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");

  // A changed Info.plist gives the new identifier.
  temp.write("Apps/Zelto.app/Contents/Info.plist", infoPlist("Quarnix.renamed", "Zelto"));
  ASSERT_EQ(ours().size(), 1u);
  EXPECT_EQ(ours()[0].bundleIdentifier, "Quarnix.renamed");

  // Stopped, it is continued; running, or no such process, it is left alone.
  EXPECT_FALSE(workspace.resumeIfStopped(pid));
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  ASSERT_TRUE(eventually([&] { return LinuxProcessTable::isStopped(pid); }));
  EXPECT_TRUE(workspace.resumeIfStopped(pid));
  EXPECT_TRUE(eventually([&] { return !LinuxProcessTable::isStopped(pid); }));
  EXPECT_FALSE(workspace.resumeIfStopped(999999999));
}

TEST_F(LinuxWorkspaceTest, AnApplicationStartedThroughAScriptIsListedUntilItEnds) {
  // The executable is a script: the process runs an interpreter, then whatever the script
  // executes, never a file inside the bundle. It leaves its number behind for the clean-up.
  const std::string pidFile = temp / "wrapped.pid";
  temp.write("Scripts/Wrapped.app/Contents/Info.plist", infoPlist("Quarnix.wrapped", "Wrapped"));
  std::string script = temp.write("Scripts/Wrapped.app/Contents/MacOS/Wrapped",
                                  "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 1000\n");
  fs::permissions(script, fs::perms::owner_all);
  // Launched through a path with a link in it: the listing names the bundle canonically.
  fs::create_directory_symlink(temp / "Scripts", temp / "Linked");
  const std::string expectedPath = fs::canonical(temp / "Scripts/Wrapped.app").string();

  int told = 0;
  bool listedWhenTold = true;
  observe([&] {
    ++told;
    listedWhenTold = lists(workspace.runningApplications(), launched.empty() ? 0 : launched[0]);
  });
  ASSERT_TRUE(workspace.launchApplication(temp / "Linked/Wrapped.app").ok());
  pid_t pid = 0;
  ASSERT_TRUE(runLoopUntil(loop, [&] {
    pid = std::atoi(readWholeFile(pidFile).c_str());
    return pid > 0;
  }));
  launched.push_back(pid);
  auto found = workspace.runningApplicationsWithBundleIdentifier("Quarnix.wrapped");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(std::pair(found[0].processIdentifier, found[0].bundlePath),
            std::pair(pid, expectedPath));
  // Still the same application once the script has replaced itself with another program.
  ASSERT_TRUE(runLoopUntil(loop, [&] {
    return linkTarget("/proc/" + std::to_string(pid) + "/exe").ends_with("/sleep");
  }));
  EXPECT_TRUE(lists(workspace.runningApplicationsWithBundleIdentifier("Quarnix.wrapped"), pid));

  ASSERT_TRUE(runPosted(loop));
  told = 0;
  ::kill(pid, SIGKILL);
  // Only the loop runs here; nothing asks for the list. It is told at once, already without
  // the application, and the process is reaped.
  ASSERT_TRUE(runLoopUntil(loop, [&] { return told > 0; }));
  EXPECT_FALSE(listedWhenTold);
  EXPECT_TRUE(workspace.runningApplicationsWithBundleIdentifier("Quarnix.wrapped").empty());
  ASSERT_TRUE(runLoopUntil(loop, [&] { return !processExists(pid); }));  // no zombie left
}

TEST_F(LinuxWorkspaceTest, OnlyReadingsTellOnASimulatedLoopAndTheFirstOneTellsNobody) {
  // On a simulated loop nothing is watched, so only the workspace's own readings of the process
  // table can tell anything: other processes of this machine coming and going can't.
  auto runsOurs = [&](pid_t pid) {
    return linkTarget("/proc/" + std::to_string(pid) + "/exe") == executable();
  };
  ChildProcess before(executable(), {}, temp / "before.err");
  ASSERT_TRUE(before.started());
  ASSERT_TRUE(eventually([&] { return runsOurs(before.pid()); }));
  FakeClock clock;
  FakeRunLoop simulated(clock);
  LinuxWorkspace quiet(simulated);
  int told = 0;
  quiet.addRunningApplicationsObserver([&] { ++told; });
  EXPECT_TRUE(lists(quiet.runningApplications(), before.pid()));  // the first reading
  simulated.runUntilIdle();
  EXPECT_EQ(told, 0);
  ChildProcess unnoticed(executable(), {}, temp / "unnoticed.err");
  ASSERT_TRUE(unnoticed.started());
  ASSERT_TRUE(eventually([&] { return runsOurs(unnoticed.pid()); }));

  // The launched child is listed at once with its bundle's identifier, and told as a change;
  // the start made meanwhile by someone else is not known yet.
  ASSERT_TRUE(quiet.launchApplication(bundle).ok());
  auto applications = quiet.runningApplications();
  std::vector<RunningApplication> listed;
  for (auto& application : applications) {
    if (application.bundlePath != bundle || application.processIdentifier == before.pid()) continue;
    listed.push_back(application);
    launched.push_back(application.processIdentifier);
  }
  ASSERT_EQ(listed.size(), 1u);
  pid_t own = listed[0].processIdentifier;
  EXPECT_EQ(listed[0].bundleIdentifier, "Quarnix.zelto");
  EXPECT_FALSE(lists(applications, unnoticed.pid()));
  simulated.runUntilIdle();
  EXPECT_EQ(told, 1);

  quiet.refreshRunningApplications();
  simulated.runUntilIdle();
  EXPECT_EQ(told, 2);
  EXPECT_TRUE(lists(quiet.runningApplications(), unnoticed.pid()));

  // A later reading tells an end; nothing watches the own child's end here: a reading finds
  // it, and reaps it.
  before.signal(SIGKILL);
  ASSERT_TRUE(eventually([&] { return !runsOurs(before.pid()); }));
  EXPECT_FALSE(lists(quiet.runningApplications(), before.pid()));
  simulated.runUntilIdle();
  EXPECT_GE(told, 3);
  ::kill(own, SIGKILL);
  EXPECT_TRUE(
      eventually([&] { return !lists(quiet.runningApplications(), own) && !processExists(own); }));
}

TEST_F(LinuxWorkspaceTest, AStartBySomeoneElseOfAWatchedExecutableIsToldWithoutReadingTheList) {
  EXPECT_TRUE(ours().empty());  // the first reading
  int told = 0;
  observe([&] { ++told; });
  // Never seen running here: asked for, its executable is watched from now on.
  workspace.watchForStarts(temp / "Apps/Zelto.app");

  // From here on only the loop runs between the steps: the observer only counts. The workspace
  // learns of a start from the exec opening the executable, and lists it (holding its pidfd)
  // by itself.
  ChildProcess other(executable(), {}, temp / "other.err");
  ASSERT_TRUE(other.started());
  ASSERT_TRUE(runLoopUntil(loop, [&] { return holdsPidfdOf(other.pid()) && told > 0; }));

  // The workspace's own launch of that executable is no start to look for; one by someone else
  // right after it still is.
  ASSERT_TRUE(workspace.launchApplication(bundle).ok());
  for (const auto& application : ours()) {
    if (application.processIdentifier != other.pid())
      launched.push_back(application.processIdentifier);
  }
  ASSERT_EQ(launched.size(), 1u);
  ASSERT_TRUE(runPosted(loop));
  told = 0;
  ChildProcess third(executable(), {}, temp / "third.err");
  ASSERT_TRUE(third.started());
  ASSERT_TRUE(runLoopUntil(loop, [&] { return holdsPidfdOf(third.pid()) && told > 0; }));
  EXPECT_EQ(ours().size(), 3u);
}

// --- Failed launches -------------------------------------------------------------------------

TEST_F(LinuxWorkspaceTest, ALaunchThatCannotStartFailsWithAnErrorLine) {
  fs::remove(bundle + "/Contents/MacOS/Zelto");  // no executable
  temp.write("Apps/Other.app/Contents/Info.plist", "not a property list");
  // An executable name that would leave Contents/MacOS.
  temp.write("Apps/Escape.app/Contents/Info.plist", infoPlist("Quarnix.escape", "../../../Zelto"));
  for (const std::string& path : {bundle, temp / "Apps/Other.app", temp / "Apps/Escape.app"}) {
    LogCapture capture;
    EXPECT_FALSE(workspace.launchApplication(path).ok()) << path;
    auto lines = capture.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto& line) {
      return line.level == spdlog::level::err &&
             line.text.starts_with("Could not launch the application at " + path);
    })) << path;
  }
}

}  // namespace
}  // namespace zelto
