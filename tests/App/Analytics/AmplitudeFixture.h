// AmplitudeFixture: an analytics client on simulated time (FakeClock, FakeRunLoop), a file
// system with faults to order under a temporary home, a fake HTTP client the test answers, and
// the system-log and log lines captured.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "App/Analytics/Amplitude.h"
#include "Platform/Directories.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"
#include "Platform/Url.h"
#include "Support/FakeClock.h"
#include "Support/FakeHttpClient.h"
#include "Support/FakeRunLoop.h"
#include "Support/FaultyFileSystem.h"
#include "Support/LogCapture.h"
#include "Support/SystemLogCapture.h"
#include "Support/TempDir.h"

namespace zelto::testing {

class AmplitudeFixture : public ::testing::Test {
 protected:
  using json = nlohmann::json;
  static constexpr const char* kKey = "0123456789abcdef";

  ~AmplitudeFixture() override { amplitude_.reset(); }

  std::string library() const { return home_ / ".local/share/Zelto/Library"; }
  std::string caches() const { return home_ / ".cache/Zelto"; }
  std::string archivePath() const { return library() + "/com.amplitude.archiveDict"; }
  std::string plistPath() const { return library() + "/com.amplitude.plist"; }
  // Writes a file as another program would (its directories made, the write not counted).
  void put(const std::string& path, const std::string& contents) const {
    home_.write(path.substr(home_.path().size() + 1), contents);
  }

  // A new client; the one before (if any) goes first, saving its store.
  Amplitude& start() {
    amplitude_.reset();
    amplitude_ = std::make_unique<Amplitude>(loop_, http_, clock_, fs_, directories_,
                                             notifications_, "http://upload.test/");
    settle();
    return *amplitude_;
  }
  // A started client with a key, without a session.
  Amplitude& startWithKey() {
    start().initializeApiKey(kKey, nullptr, false);
    settle();
    return *amplitude_;
  }
  void stop() { amplitude_.reset(); }

  // Waits until the client's queue has run everything given to it so far.
  // The bound is generous: a thousand events are a thousand synced writes, slow on a busy disk.
  // The promise is shared so that a queue still running after a failed wait sets a live one.
  void drain() {
    auto done = std::make_shared<std::promise<void>>();
    amplitude_->runOnBackgroundQueue([done] { done->set_value(); });
    ASSERT_EQ(done->get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
  }
  // Runs what the client handed to its queue and to the main loop, back and forth, until both
  // are quiet (the loop's timers that are due included; time does not move).
  void settle() {
    for (int i = 0; i < 4; ++i) {
      drain();
      loop_.runUntilIdle();
    }
  }
  // Moves simulated time on, firing the timers on the way, and lets the work they start run.
  void advance(double seconds) {
    settle();
    loop_.advance(seconds);
    settle();
  }

  void logEvents(int count, const std::string& type = "event") {
    for (int i = 0; i < count; ++i) amplitude_->logEvent(type);
    settle();
  }
  json queued() { return amplitude_->eventsData()["events"]; }
  json storedArchive() {
    return json::parse(fs_.readFile(archivePath(), FileSystem::kMaxResourceBytes).valueOr("null"));
  }
  json storedPropertyList() {
    return PropertyList::parse(fs_.readFile(plistPath(), FileSystem::kMaxResourceBytes).valueOr(""))
        .value_or(nullptr);
  }
  int64_t nowMillis() const {
    return static_cast<int64_t>(clock_.now().secondsSince1970() * 1000.0);
  }
  // The events of an upload request, from its "e=" field.
  static json uploadedEvents(const HttpRequest& request) {
    const std::string& body = request.body;
    const size_t begin = body.find("&e=") + 3;
    const size_t end = body.find("&upload_time=");
    return json::parse(Url::percentDecode(body.substr(begin, end - begin)));
  }

  TempDir home_;
  FaultyFileSystem fs_;
  Directories directories_{fs_,
                           [this](const std::string& name) -> std::optional<std::string> {
                             if (name == "HOME") return home_.path();
                             return std::nullopt;
                           },
                           [] { return std::optional<std::string>(); }};
  FakeClock clock_;
  FakeRunLoop loop_{clock_};
  FakeHttpClient http_;
  NotificationCenter notifications_;
  SystemLogCapture systemLog_;
  LogCapture log_;
  std::unique_ptr<Amplitude> amplitude_;
};

}  // namespace zelto::testing
