#include "Platform/Application.h"

#include <signal.h>

#include <atomic>

#include "Platform/Check.h"
#include "Platform/Linux/UvRunLoop.h"
#include "Platform/MainThread.h"

namespace zelto {

namespace {
std::atomic<UvRunLoop*> mainLoop{nullptr};
}  // namespace

int Application::main(int /*argc*/, char** /*argv*/, ApplicationDelegate& delegate) {
  // A write to a closed pipe (a log reader that went away) must not kill the process.
  ::signal(SIGPIPE, SIG_IGN);

  MainThread::markCurrentThread();
  // The main loop lives as long as the process, so that timers and handles the delegate still
  // owns after `main` returns can be cancelled safely.
  UvRunLoop& loop = *new UvRunLoop();
  mainLoop = &loop;
  MainThread::setExecutor([&loop](MainThread::Task task) { loop.post(std::move(task)); });
  loop.onSignal(SIGTERM, [&loop] { loop.stop(); });
  loop.onSignal(SIGINT, [&loop] { loop.stop(); });

  loop.post([&delegate] { delegate.applicationDidFinishLaunching(); });
  loop.run();

  delegate.applicationWillTerminate();
  MainThread::setExecutor(nullptr);
  return 0;
}

RunLoop& Application::mainRunLoop() {
  UvRunLoop* loop = mainLoop.load();
  ZELTO_CHECK(loop != nullptr, "the main loop runs only inside Application::main");
  return *loop;
}

void Application::terminate() {
  if (UvRunLoop* loop = mainLoop.load()) loop->stop();
}

}  // namespace zelto
