// SystemLogCapture: collects the lines written to the system log while it lives (from any
// thread), instead of sending them to syslog, for assertions in tests.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/SystemLog.h"

namespace zelto::testing {

class SystemLogCapture {
 public:
  SystemLogCapture()
      : sink_([this](const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(line);
        }) {}
  SystemLogCapture(const SystemLogCapture&) = delete;
  SystemLogCapture& operator=(const SystemLogCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  size_t count(const std::string& line) const {
    auto all = lines();
    return std::count(all.begin(), all.end(), line);
  }
  bool has(const std::string& line) const { return count(line) > 0; }
  size_t countStartingWith(const std::string& prefix) const {
    auto all = lines();
    return std::count_if(all.begin(), all.end(),
                         [&](const std::string& l) { return l.starts_with(prefix); });
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  SystemLog::ScopedSink sink_;
};

}  // namespace zelto::testing
