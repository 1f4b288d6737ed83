// LogCapture: collects the log lines written while it lives, for assertions in tests.
//
// Installs a synchronous default logger that keeps every line (all levels) in memory and
// restores the previous default logger on destruction. Use one per test, on the test's thread.
#pragma once

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace zelto::testing {

struct CapturedLine {
  spdlog::level::level_enum level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    auto logger = std::make_shared<spdlog::logger>("capture", sink_);
    logger->set_level(spdlog::level::trace);
    spdlog::set_default_logger(logger);
  }
  ~LogCapture() { spdlog::set_default_logger(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedLine> lines() const {
    std::vector<CapturedLine> out;
    for (const auto& m : sink_->last_raw())
      out.push_back({m.level, {m.payload.begin(), m.payload.end()}});
    return out;
  }

  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& line : lines()) out.push_back(line.text);
    return out;
  }

  // True when a line at `level` equals `text` exactly.
  bool has(spdlog::level::level_enum level, const std::string& text) const {
    auto all = lines();
    return std::any_of(all.begin(), all.end(),
                       [&](const CapturedLine& l) { return l.level == level && l.text == text; });
  }

  size_t count(const std::string& text) const {
    auto all = texts();
    return std::count(all.begin(), all.end(), text);
  }

  // How many lines begin with `prefix`.
  size_t countStartingWith(const std::string& prefix) const {
    auto all = texts();
    return std::count_if(all.begin(), all.end(),
                         [&](const std::string& t) { return t.starts_with(prefix); });
  }

 private:
  std::shared_ptr<spdlog::logger> previous_ = spdlog::default_logger();
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_ =
      std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(10'000);
};

}  // namespace zelto::testing
