// UvRunLoop: the RunLoop on libuv. The main loop of the agent and the stand-in is one of these.
//
// Ownership and threads as RunLoop says. Destroying the loop closes every handle it still has.
#pragma once

#include <uv.h>

#include <atomic>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

#include "Platform/RunLoop.h"

namespace zelto {

class UvRunLoop final : public RunLoop {
 public:
  UvRunLoop();
  ~UvRunLoop() override;
  UvRunLoop(const UvRunLoop&) = delete;
  UvRunLoop& operator=(const UvRunLoop&) = delete;

  void run() override;
  void stop() override;
  void post(Callback callback) override;
  bool isLoopThread() const override;
  std::unique_ptr<Registration> addTimer(double delaySeconds, double repeatSeconds,
                                         Callback callback) override;
  void onSignal(int signal, Callback callback) override;
  Result<std::unique_ptr<Registration>> watchReadable(int fd, Callback callback) override;

  uv_loop_t* loop() { return &loop_; }

 private:
  struct SignalHandle {
    uv_signal_t handle;
    Callback callback;
  };

  static void onAsync(uv_async_t* handle);
  void drainPosted();

  uv_loop_t loop_{};
  uv_async_t wakeup_{};
  std::mutex mutex_;
  std::deque<Callback> posted_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<std::thread::id> loopThread_;
  std::list<SignalHandle> signals_;
};

}  // namespace zelto
