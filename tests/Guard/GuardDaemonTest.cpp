// The guard's decisions on simulated time, over a real store in a temporary folder: who may lock,
// tighten, look at and end which lock, when a lock ends, and what a restart takes up again.
#include <gtest/gtest.h>

#include <filesystem>

#include "App/Data/Preferences/JSONValues.h"
#include "Guard/GuardDaemon.h"
#include "Support/ChildProcess.h"
#include "Support/FakeRunLoop.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace zelto {
namespace {

using json = nlohmann::json;
using testing::readWholeFile;

constexpr uid_t kUser = 1000;
constexpr uid_t kOther = 1001;

class GuardDaemonTest : public ::testing::Test {
 protected:
  // A daemon over the store as it stands: a restart of the guard.
  void restart() {
    daemon_ = std::make_unique<GuardDaemon>(
        loop_, clock_, store_, [this](const auto& running) { changes_.push_back(running); });
    daemon_->start();
  }
  json ask(uid_t peer, const json& request) {
    return json::parse(daemon_->handle(peer, request.dump()));
  }
  json lockFor(double seconds, std::vector<std::string> sites = {"a.com"}) {
    return {{"request", "lock"},
            {"lock",
             {{"end", JSONValues::formatDate(clock_.now().addingTimeInterval(seconds))},
              {"blockedSites", sites}}}};
  }

  testing::TempDir dir_;
  FakeClock clock_{JSONValues::parseDate("2026-12-08T10:00:00Z").value()};
  FakeRunLoop loop_{clock_};
  LocalFileSystem fs_;
  GuardStore store_{fs_, dir_ / "var/lib/zelto-guard"};
  std::vector<GuardDaemon::Locks> changes_;
  std::unique_ptr<GuardDaemon> daemon_;
};

TEST_F(GuardDaemonTest, ALockIsKeptPrivatelyTightenedNeverLoosenedAndEndsAtItsEnd) {
  restart();
  EXPECT_EQ(ask(kUser, lockFor(600))["ok"], true);
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(store_.fileOf(kUser)).permissions(), perms(0600));
  EXPECT_EQ(std::filesystem::status(dir_ / "var/lib/zelto-guard").permissions(), perms(0700));
  const std::string kept = readWholeFile(store_.fileOf(kUser));

  const json looser = ask(kUser, lockFor(300));
  EXPECT_EQ(looser["refused"], true);
  EXPECT_EQ(looser["error"],
            "an earlier end: the system guard holds it locked until 2026-12-08T10:10:00.000Z");
  EXPECT_EQ(ask(kUser, lockFor(600, {}))["refused"], true);
  EXPECT_EQ(ask(kUser, lockFor(-1))["error"], "The lock ends in the past");
  EXPECT_EQ(readWholeFile(store_.fileOf(kUser)), kept);
  ASSERT_EQ(changes_.size(), 2u);  // the start, the lock

  EXPECT_EQ(ask(kUser, lockFor(900, {"a.com", "b.com"}))["ok"], true);
  EXPECT_EQ(ask(kUser, {{"request", "status"}})["lock"]["blockedSites"], json({"a.com", "b.com"}));
  loop_.advance(899);
  EXPECT_EQ(daemon_->locks().size(), 1u);
  loop_.advance(1);
  EXPECT_TRUE(daemon_->locks().empty());
  EXPECT_TRUE(changes_.back().empty());
  EXPECT_FALSE(std::filesystem::exists(store_.fileOf(kUser)));
  EXPECT_EQ(ask(kUser, {{"request", "status"}}),
            json({{"ok", true}, {"uid", kUser}, {"locked", false}}));
}

TEST_F(GuardDaemonTest, OnlyRootEndsALockOrLooksAtAnotherUsers) {
  restart();
  ASSERT_EQ(ask(kUser, lockFor(600))["ok"], true);
  const json attempts[] = {
      {{"request", "release"}},
      {{"request", "release"}, {"uid", kUser}},
      {{"request", "status"}, {"uid", kUser}},
  };
  for (const json& attempt : attempts) {
    EXPECT_EQ(ask(kOther, attempt)["refused"], true) << attempt;
  }
  EXPECT_EQ(ask(kUser, {{"request", "release"}})["refused"], true);
  // Another user's lock is their own: it neither replaces nor loosens this one.
  EXPECT_EQ(ask(kOther, lockFor(60, {}))["ok"], true);
  EXPECT_EQ(daemon_->locks().at(kUser).blockedSites, std::vector<std::string>{"a.com"});

  EXPECT_EQ(ask(0, {{"request", "status"}, {"uid", kUser}})["locked"], true);
  EXPECT_EQ(ask(0, {{"request", "release"}, {"uid", kUser}}),
            json({{"ok", true}, {"released", true}}));
  EXPECT_FALSE(daemon_->locks().contains(kUser));
  EXPECT_FALSE(std::filesystem::exists(store_.fileOf(kUser)));
  EXPECT_EQ(ask(0, {{"request", "release"}, {"uid", kUser}})["released"], false);
}

TEST_F(GuardDaemonTest, ARestartTakesUpTheRunningLocksAndNothingDamagedOrEnded) {
  restart();
  ASSERT_EQ(ask(kUser, lockFor(600))["ok"], true);
  ASSERT_EQ(ask(kOther, lockFor(60))["ok"], true);
  const std::string damaged = dir_.write("var/lib/zelto-guard/1002.json", R"({"end": 5})");
  dir_.write("var/lib/zelto-guard/notes.txt", "not a lock");
  daemon_.reset();
  loop_.advance(120);  // the other user's lock ends while the guard is down

  testing::LogCapture capture;
  restart();
  EXPECT_EQ(changes_.back().size(), 1u);
  EXPECT_TRUE(daemon_->locks().contains(kUser));
  EXPECT_FALSE(std::filesystem::exists(store_.fileOf(kOther)));
  EXPECT_TRUE(std::filesystem::exists(damaged));  // kept, to be looked at
  EXPECT_EQ(capture.countStartingWith("Ignoring the damaged lock file " + damaged), 1u);
  loop_.advance(480);
  EXPECT_TRUE(daemon_->locks().empty());
}

TEST_F(GuardDaemonTest, AClockSetBackDoesNotEndALockEarly) {
  restart();
  ASSERT_EQ(ask(kUser, lockFor(600))["ok"], true);
  clock_.setNow(clock_.now().addingTimeInterval(-3600));  // wall clock only
  loop_.advance(600);
  EXPECT_TRUE(daemon_->locks().contains(kUser));
  loop_.advance(3600);
  EXPECT_TRUE(daemon_->locks().empty());
}

}  // namespace
}  // namespace zelto
