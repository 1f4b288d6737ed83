// SystemLog: plain lines written straight to the system log (syslog(3)), outside the logging
// framework and its level. Only the analytics client writes here, with lines that carry their
// own severity as a prefix ("ERROR:", "WARNING:", "EXCEPTION:"); the prefix picks the syslog
// priority (warning for "WARNING:", error for the other two, notice otherwise).
//
// Tests divert the lines with a ScopedSink: while one lives, every line goes to its sink instead
// of the system log; sinks nest and the previous one is restored on destruction.
//
// Thread safety: `write` may be called from any thread; a sink is called on the writing thread,
// without a lock held. Install and remove sinks on one thread (the test's).
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zelto {

class SystemLog {
 public:
  using Sink = std::function<void(const std::string& line)>;

  static void write(const std::string& line);

  class ScopedSink {
   public:
    explicit ScopedSink(Sink sink);
    ~ScopedSink();
    ScopedSink(const ScopedSink&) = delete;
    ScopedSink& operator=(const ScopedSink&) = delete;

   private:
    std::shared_ptr<const Sink> previous_;
  };
};

}  // namespace zelto
