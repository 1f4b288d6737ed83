// QuietLog: keeps the log lines of zeltoctl's work at hand instead of printing them, so that a
// failure can show its reason and a success prints only its result.
//
// While one lives, the default logger keeps the last 256 lines at the info level and above;
// the logger before it comes back when it goes. The main thread.
#pragma once

#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <string>

namespace zelto {

class QuietLog {
 public:
  QuietLog() : sink_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(256)) {
    auto logger = std::make_shared<spdlog::logger>("zeltoctl", sink_);
    logger->set_level(spdlog::level::info);
    sink_->set_pattern("%v");
    previous_ = spdlog::default_logger();
    spdlog::set_default_logger(logger);
  }
  ~QuietLog() { spdlog::set_default_logger(previous_); }
  QuietLog(const QuietLog&) = delete;
  QuietLog& operator=(const QuietLog&) = delete;

  // The lines kept, each ending with a newline.
  std::string lines() const {
    std::string text;
    for (const auto& line : sink_->last_formatted()) text += line;
    return text;
  }

 private:
  std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> sink_;
  std::shared_ptr<spdlog::logger> previous_;
};

}  // namespace zelto
