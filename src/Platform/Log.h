// Log: the one door through which every component writes a log line.
//
// One call per message flag: log::error, log::warning, log::info, log::debug, each with a fmt
// format string ("{}" where a value goes) and its arguments. The line goes to the process's
// default spdlog logger, which LoggingManager::setup fills with the system-log, console and
// daily-file sinks; each sink writes the line when the flag is within its level. Before set-up
// (and in tests, unless a test installs its own logger) lines go to spdlog's default console
// logger.
//
// Thread safety: callable from any thread; delivery is asynchronous once logging is set up.
#pragma once

#include <spdlog/spdlog.h>

#include <source_location>
#include <type_traits>
#include <utility>

namespace zelto::log {

// A format string that also remembers where the call was written.
template <typename... Args>
struct Format {
  template <typename S>
  consteval Format(const S& text, std::source_location where = std::source_location::current())
      : text(text), where(where) {}
  fmt::format_string<Args...> text;
  std::source_location where;
};

template <typename... Args>
void write(spdlog::level::level_enum level, const Format<Args...>& format, Args&&... args) {
  spdlog::logger* logger = spdlog::default_logger_raw();
  if (logger == nullptr || !logger->should_log(level)) return;
  logger->log(spdlog::source_loc{format.where.file_name(), static_cast<int>(format.where.line()),
                                 format.where.function_name()},
              level, format.text, std::forward<Args>(args)...);
}

template <typename... Args>
void error(Format<std::type_identity_t<Args>...> format, Args&&... args) {
  write<Args...>(spdlog::level::err, format, std::forward<Args>(args)...);
}

template <typename... Args>
void warning(Format<std::type_identity_t<Args>...> format, Args&&... args) {
  write<Args...>(spdlog::level::warn, format, std::forward<Args>(args)...);
}

template <typename... Args>
void info(Format<std::type_identity_t<Args>...> format, Args&&... args) {
  write<Args...>(spdlog::level::info, format, std::forward<Args>(args)...);
}

template <typename... Args>
void debug(Format<std::type_identity_t<Args>...> format, Args&&... args) {
  write<Args...>(spdlog::level::debug, format, std::forward<Args>(args)...);
}

}  // namespace zelto::log
