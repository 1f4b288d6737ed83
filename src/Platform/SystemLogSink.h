// SystemLogSink: an spdlog sink that hands each line to the system log (syslog(3)), and skips
// the hand-over while the system log has no socket to receive it.
//
// Without a system log daemon, syslog(3) tries to connect afresh for every line, in vain, before
// dropping it: a few system calls each time. This sink looks for the socket instead, at the
// first line and then at most once every `kLookInterval`, and while it is missing drops the
// lines as syslog(3) would; a daemon that starts later gets the lines from the next look on.
// While the socket is there every line is handed over, and syslog(3) keeps its connection.
//
// Ownership: shared by the loggers it is given to. Thread safety: any thread (lines are
// serialised by the sink's mutex).
#pragma once

#include <spdlog/sinks/syslog_sink.h>

#include <chrono>
#include <optional>
#include <string>

namespace zelto {

class SystemLogSink final : public spdlog::sinks::syslog_sink_mt {
 public:
  static constexpr std::chrono::seconds kLookInterval{10};

  // `ident`, `option` and `facility` as for openlog(3).
  SystemLogSink(std::string ident, int option, int facility);

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;

 private:
  std::optional<std::chrono::steady_clock::time_point> lastLook_;  // nothing before the first
  bool socketFound_ = false;
};

}  // namespace zelto
