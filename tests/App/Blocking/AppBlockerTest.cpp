#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "App/Blocking/AppBlocker.h"
#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Linux/InotifyExecutableWatch.h"
#include "Platform/Linux/LinuxProcessTable.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Support/FakeRunLoop.h"
#include "Support/LogCapture.h"
#include "Support/RunLoopUntil.h"
#include "Support/SleepingChild.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::ChildProcess;
using testing::eventually;
using ::testing::IsEmpty;
using testing::LogCapture;
using testing::runLoopUntil;
using testing::SleepingChild;
using testing::TempDir;
using ::testing::UnorderedElementsAre;

// The machine's processes, but launches are only written down, and so are the listings and the
// digests read.
class LaunchRecordingTable final : public ProcessTable {
 public:
  std::vector<Entry> processesOfCurrentUser() override {
    ++listings;
    return real.processesOfCurrentUser();
  }
  std::optional<Entry> describe(int pid) override { return real.describe(pid); }
  Result<std::vector<std::string>> commandLine(int pid) override { return real.commandLine(pid); }
  Result<std::string> workingDirectory(int pid) override { return real.workingDirectory(pid); }
  Result<std::string> executableDigest(int pid) override {
    ++digests;
    return real.executableDigest(pid);
  }
  Result<std::unique_ptr<Process>> open(int pid, const std::string& executable) override {
    return real.open(pid, executable);
  }
  Status launchDetached(const std::string& executable) override {
    launched.push_back(executable);
    return Status::success();
  }
  LinuxProcessTable real;
  std::vector<std::string> launched;
  int listings = 0, digests = 0;
};

constexpr const char* kLoader = "/lib64/ld-linux-x86-64.so.2";

// A watch that never tells anything: starts are found by the regular look only.
class DeafWatch final : public ExecutableWatch {
 public:
  Status watch(const std::vector<std::string>&, Callback) override { return Status::success(); }
  void clear() override {}
};

class AppBlockerTest : public ::testing::Test {
 protected:
  // The regular look is left out (unless a test asks for it), so that starts are found by the
  // watch.
  void makeBlocker(AppBlocker::Options options = {0.2, 3600}, ExecutableWatch* watch = nullptr) {
    blocker = std::make_unique<AppBlocker>(loop, processes, watch ? *watch : inotifyWatch, options);
  }
  void SetUp() override { makeBlocker(); }

  // A copy of sleep named `name`, in this test's folder.
  std::string program(const std::string& name) {
    std::string path = fs::canonical(temp.path()).string() + "/" + name;
    SleepingChild::copyProgram(path);
    return path;
  }
  static json entry(const std::string& path, const std::vector<std::string>& flags = {}) {
    json value = {{"path", path}};
    for (const auto& flag : flags) value[flag] = true;
    return value;
  }
  void block(const json& entries) { blocker->setEntries(entries, localFs, ""); }

  TempDir temp;
  LocalFileSystem localFs;
  UvRunLoop loop;
  LaunchRecordingTable processes;
  InotifyExecutableWatch inotifyWatch{loop};
  std::unique_ptr<AppBlocker> blocker;
};

TEST_F(AppBlockerTest, HiddenProgramsStayStoppedOnlyWhileEnforcing) {
  const std::string hidden = program("hidden");
  // Hiding wins over force quitting.
  block(json::array({entry(hidden, {"shouldHideInsteadOfQuit", "shouldAlwaysForceQuit"})}));
  SleepingChild child(hidden);
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  EXPECT_TRUE(eventually([&] { return child.state() == 'T'; }));
  // Continued by hand, it is stopped again.
  ASSERT_EQ(::kill(child.pid(), SIGCONT), 0);
  EXPECT_TRUE(eventually([&] { return child.state() != 'T'; }));
  EXPECT_TRUE(runLoopUntil(
      loop, [&] { return child.state() == 'T'; }, 2));
  blocker->setMode(AppBlocker::Mode::kBreak);
  EXPECT_TRUE(eventually([&] { return child.state() != 'T'; }));
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  EXPECT_TRUE(eventually([&] { return child.state() == 'T'; }));
  blocker.reset();  // as when Zelto is told to end
  EXPECT_TRUE(eventually([&] { return child.state() != 'T'; }));
  EXPECT_FALSE(child.ended());
}

TEST_F(AppBlockerTest, ProgramStartedWhileEnforcingIsEndedAtOnceEvenAfterAnUpdate) {
  const std::string path = program("started");
  block(json::array({entry(path)}));
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  {
    SleepingChild child(path);
    ASSERT_TRUE(runLoopUntil(loop, [&] { return child.ended(); }));
  }
  // An update replaces the file: the watch follows it to the new one.
  const std::string update = program("update");
  fs::rename(update, path);
  SleepingChild child(path);
  ASSERT_TRUE(runLoopUntil(loop, [&] { return child.ended(); }));
}

TEST_F(AppBlockerTest, StartTheWatchMissedIsFoundByTheRegularLook) {
  DeafWatch deaf;
  makeBlocker({0.2, 0.05}, &deaf);
  const std::string path = program("unseen");
  block(json::array({entry(path)}));
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  SleepingChild child(path);
  EXPECT_TRUE(runLoopUntil(loop, [&] { return child.ended(); }));
  blocker.reset();  // before the watch it uses
}

// A block without blocked programs arms no timer: the application sleeps; one with some looks at
// the processes regularly, and stops again when its entries are gone.
TEST_F(AppBlockerTest, TheRegularLookRunsOnlyWhileThereIsABlockedProgramToLookFor) {
  FakeClock clock;
  FakeRunLoop fakeLoop(clock);
  DeafWatch deaf;
  AppBlocker idle(fakeLoop, processes, deaf);
  idle.setEntries(json::array(), localFs, "");
  idle.setMode(AppBlocker::Mode::kEnforcing);
  EXPECT_EQ(fakeLoop.scheduledTimers(), 0u);
  idle.setEntries(json::array({entry(program("watched"))}), localFs, "");
  EXPECT_EQ(fakeLoop.scheduledTimers(), 1u);
  idle.setEntries(json::array({entry(temp / "missing")}), localFs, "");
  EXPECT_EQ(fakeLoop.scheduledTimers(), 0u);
}

// A quit asks first and kills what stays; a force quit kills at once; a soft quit asks once and
// leaves the program running. Each program quit is reopened once when blocking ends.
TEST_F(AppBlockerTest, QuitsAsEachEntrySaysAndReopensWhatWasQuitOnceBlockingEnds) {
  LogCapture log;
  const std::string quit = program("quit"), forced = program("forced"), soft = program("soft"),
                    hidden = program("hidden"), plain = program("plain");
  const std::string reopen = "shouldReopenWhenUnzeltoing";
  block(json::array({entry(quit, {reopen}), entry(forced, {reopen, "shouldAlwaysForceQuit"}),
                     entry(soft, {reopen, "performOnlySoftKillThenLeaveOpen"}),
                     entry(hidden, {reopen, "shouldHideInsteadOfQuit"}), entry(plain)}));
  SleepingChild first(quit), second(quit), third(forced), fourth(soft, true), fifth(hidden),
      sixth(plain, true);
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  ASSERT_TRUE(runLoopUntil(loop, [&] {
    return first.ended() && second.ended() && third.ended() && sixth.ended() &&
           fifth.state() == 'T';
  }));
  EXPECT_EQ(first.endingSignal(), SIGTERM);
  EXPECT_EQ(third.endingSignal(), SIGKILL);
  EXPECT_EQ(sixth.endingSignal(), SIGKILL);
  // Another blocked start makes the blocker look at every process again.
  SleepingChild started(plain);
  ASSERT_TRUE(runLoopUntil(loop, [&] { return started.ended(); }));
  EXPECT_FALSE(fourth.ended());
  EXPECT_TRUE(fourth.termPending());
  EXPECT_EQ(log.count("Soft quit " + soft + " (pid " + std::to_string(fourth.pid()) + ")"), 1u);
  blocker->setMode(AppBlocker::Mode::kBreak);
  EXPECT_THAT(processes.launched, IsEmpty());
  blocker->setMode(AppBlocker::Mode::kOff);
  EXPECT_THAT(processes.launched, UnorderedElementsAre(quit, forced));
  // A blocking period that quits nothing reopens nothing.
  processes.launched.clear();
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  blocker->setMode(AppBlocker::Mode::kOff);
  EXPECT_THAT(processes.launched, IsEmpty());
}

// A blocked program run under another name, as a copy, from memory or through the loader, and a
// launcher script run by its interpreter, are all ended; a program of the same size but other
// content, and a script that isn't blocked, are left alone. Each program file is read once.
TEST_F(AppBlockerTest, ProgramsAreRecognisedByTheirFileAndScriptsByTheirInterpretersArguments) {
  if (!fs::exists(kLoader)) GTEST_SKIP() << "no " << kLoader << " here";
  // One file read for a digest per look: many same-size files can't hold the loop for long.
  makeBlocker({.quitGraceSeconds = 0.2, .rescanSeconds = 0.02, .digestBytesPerLook = 1});
  // Past a megabyte, and a size of its own: no other test's program shares it.
  const size_t padding = (1 << 20) + static_cast<size_t>(::getpid() % 4096);
  const std::string blocked = program("blocked"), other = temp / "other";
  std::ofstream(blocked, std::ios::app) << std::string(padding, '\0');
  fs::copy_file(blocked, other);
  std::fstream(other, std::ios::in | std::ios::out).seekp(-1, std::ios::end).put('\1');
  fs::create_hard_link(blocked, temp / "link");
  fs::copy_file(blocked, temp / "copy");
  FileDescriptor memory(::memfd_create("blocked", 0));
  const std::string bytes = testing::readWholeFile(blocked);
  ASSERT_EQ(::write(memory.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  auto script = [&](const std::string& name) {
    const std::string fifo = temp / (name + ".fifo");
    ::mkfifo(fifo.c_str(), 0600);  // never written: reading it waits for good
    const std::string path = temp.write(name, "#!/bin/sh -u\nread line < '" + fifo + "'\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
  };
  const std::string launcher = script("launcher"), unblocked = script("unblocked");
  block(json::array({entry(blocked), entry(launcher)}));

  std::vector<std::unique_ptr<ChildProcess>> ended, left;
  auto run = [](const std::string& program, std::vector<std::string> arguments) {
    return std::make_unique<ChildProcess>(program, testing::Environment{}, "/dev/null",
                                          std::move(arguments));
  };
  ended.push_back(run(temp / "link", {"1000"}));
  ended.push_back(run(temp / "copy", {"1000"}));
  ended.push_back(run("/proc/self/fd/" + std::to_string(memory.get()), {"1000"}));
  ended.push_back(run(kLoader, {"--argv0", "x", "--inhibit-cache", blocked, "1000"}));
  ended.push_back(run(launcher, {}));
  ended.push_back(run("/bin/sh", {"-e", launcher}));
  left.push_back(run(other, {"1000"}));
  left.push_back(run(unblocked, {}));
  left.push_back(run(kLoader, {"--library-path", blocked, "/bin/sleep", "1000"}));
  memory.reset();
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  EXPECT_EQ(processes.digests, 1);  // the first look read one of the three same-size programs
  for (auto& child : ended) {
    EXPECT_TRUE(runLoopUntil(loop, [&] { return !child->running(); })) << child->pid();
  }
  // Regular looks later, the same-size programs (the copy, the one in memory, the other one)
  // were each read once.
  const int listings = processes.listings;
  ASSERT_TRUE(runLoopUntil(loop, [&] { return processes.listings > listings + 3; }));
  for (auto& child : left) EXPECT_TRUE(child->running()) << child->pid();
  EXPECT_EQ(processes.digests, 3);
  // A new version of the file is read again.
  fs::last_write_time(other, fs::last_write_time(other) - std::chrono::hours(1));
  EXPECT_TRUE(runLoopUntil(loop, [&] { return processes.digests == 4; }));
}

TEST_F(AppBlockerTest, EntriesOfTheWrongShapeAreLeftOutOrReadAsFalse) {
  LogCapture log;
  const std::string path = program("odd");
  const json entries = json::array({5,
                                    {{"path", 3}},
                                    {{"name", "x"}},
                                    entry(temp / "missing"),
                                    {{"path", path},
                                     {"shouldAlwaysForceQuit", "yes"},
                                     {"shouldHideInsteadOfQuit", 1},
                                     {"shouldReopenWhenUnzeltoing", "true"}}});
  block(entries);
  block(entries);
  for (const char* problem : {"entry 0: not an object", "entry 1: no path", "entry 2: no path"}) {
    EXPECT_EQ(log.count(std::string("Blocked application left out: ") + problem), 1u) << problem;
  }
  EXPECT_EQ(log.countStartingWith("Blocked application left out: " + (temp / "missing")), 1u);
  block(json::object({{"path", path}}));
  block(nullptr);
  block(entries);
  SleepingChild child(path);
  blocker->setMode(AppBlocker::Mode::kEnforcing);
  ASSERT_TRUE(runLoopUntil(loop, [&] { return child.ended(); }));
  EXPECT_EQ(child.endingSignal(), SIGTERM);  // neither force quit nor hidden
  blocker->setMode(AppBlocker::Mode::kOff);
  EXPECT_THAT(processes.launched, IsEmpty());
}

}  // namespace
}  // namespace zelto
