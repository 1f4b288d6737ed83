#include "Platform/SystemLog.h"

#include <syslog.h>

#include <mutex>

namespace zelto {

namespace {

std::mutex sinkMutex;
std::shared_ptr<const SystemLog::Sink> currentSink;

std::shared_ptr<const SystemLog::Sink> installedSink() {
  std::lock_guard<std::mutex> lock(sinkMutex);
  return currentSink;
}

int priorityFor(const std::string& line) {
  if (line.starts_with("WARNING:")) return LOG_WARNING;
  if (line.starts_with("ERROR:") || line.starts_with("EXCEPTION:")) return LOG_ERR;
  return LOG_NOTICE;
}

}  // namespace

void SystemLog::write(const std::string& line) {
  if (auto sink = installedSink()) {
    (*sink)(line);
    return;
  }
  ::syslog(LOG_USER | priorityFor(line), "%s", line.c_str());
}

SystemLog::ScopedSink::ScopedSink(Sink sink) {
  auto installed = std::make_shared<const Sink>(std::move(sink));
  std::lock_guard<std::mutex> lock(sinkMutex);
  previous_ = std::move(currentSink);
  currentSink = std::move(installed);
}

SystemLog::ScopedSink::~ScopedSink() {
  std::lock_guard<std::mutex> lock(sinkMutex);
  currentSink = std::move(previous_);
}

}  // namespace zelto
