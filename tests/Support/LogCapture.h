// LogCapture: collects the log lines written while it lives, for assertions in tests.
//
// Installs a synchronous default logger that keeps every line (all levels) in memory and
// restores the previous default logger on destruction. Use one per test, on the test's thread.
#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelto::testing {

struct CapturedLine {
  spdlog::level::level_enum level;
  std::string text;
};

class CaptureSink : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::vector<CapturedLine> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    lines_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}

 private:
  std::vector<CapturedLine> lines_;
};

class LogCapture {
 public:
  LogCapture() : previous_(spdlog::default_logger()), sink_(std::make_shared<CaptureSink>()) {
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedLine> lines() const { return sink_->lines(); }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& line : sink_->lines()) out.push_back(line.text);
    return out;
  }

  // True when a line at `level` equals `text` exactly.
  bool has(spdlog::level::level_enum level, const std::string& text) const {
    auto all = sink_->lines();
    return std::any_of(all.begin(), all.end(),
                       [&](const CapturedLine& l) { return l.level == level && l.text == text; });
  }

  size_t count(const std::string& text) const {
    auto all = sink_->lines();
    return std::count_if(all.begin(), all.end(),
                         [&](const CapturedLine& l) { return l.text == text; });
  }

 private:
  std::shared_ptr<spdlog::logger> previous_;
  std::shared_ptr<CaptureSink> sink_;
};

}  // namespace zelto::testing
