// Application: the process's main loop and its delegate, for programs that run until they are
// told to stop (the agent, the stand-in main application).
//
// `main` makes the calling thread the main thread, creates the main run loop, tells the
// delegate that launching has finished (from inside the loop), and runs the loop until SIGTERM
// or SIGINT arrives or `terminate` is called. It then tells the delegate that the application
// will terminate and returns the exit status, 0.
//
// Ownership: the caller owns the delegate, which must outlive `main`. The main run loop is made
// by `main` and lives until the process ends. Thread safety: `mainRunLoop` and `terminate` from any
// thread while `main` runs; `main` once, from the process's main thread.
#pragma once

#include "Platform/RunLoop.h"

namespace zelto {

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching() {}
  virtual void applicationWillTerminate() {}
};

class Application {
 public:
  static int main(int argc, char** argv, ApplicationDelegate& delegate);

  // The loop `main` runs; valid from the start of `main` to the end of the process.
  static RunLoop& mainRunLoop();

  // Stops the main loop as SIGTERM would.
  static void terminate();
};

}  // namespace zelto
