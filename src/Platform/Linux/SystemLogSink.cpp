#include "Platform/SystemLogSink.h"

#include <syslog.h>
#include <unistd.h>

namespace zelto {

SystemLogSink::SystemLogSink(std::string ident, int option, int facility)
    : syslog_sink(std::move(ident), option, facility, false) {}

void SystemLogSink::sink_it_(const spdlog::details::log_msg& msg) {
  const auto now = std::chrono::steady_clock::now();
  if (!lastLook_ || now - *lastLook_ >= kLookInterval) {
    // A socket that is there but refuses lines is left to syslog(3): it drops them itself.
    socketFound_ = ::access(_PATH_LOG, F_OK) == 0;
    lastLook_ = now;
  }
  if (socketFound_) syslog_sink::sink_it_(msg);
}

}  // namespace zelto
