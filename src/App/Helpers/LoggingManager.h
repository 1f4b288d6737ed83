// LoggingManager: configures where log lines go, and keeps the chosen level in user defaults.
//
// Levels are bit masks over five flags: error 1, warning 2, info 4, debug 8, verbose 16. The
// names stored under "logLevel" map to masks ("off" 0, "error" 1, "warning" 3, "info" 7,
// "debug" 15, "all" every bit); a missing or unknown name means "info". `setup` sends every
// line to three sinks with that level: the system log (syslog, which reaches the journal on
// systemd machines), the console (stderr) and a daily file in the Logs directory, 14 files
// kept, readable by the user alone (DailyLogFileSink). Lines are written by the thread that
// logs them (no delivery thread, no queue) and flushed at once; `shutdown` flushes and drops
// the sinks.
//
// Class operations only, no state of its own. Thread safety: `setup` and `shutdown` from the
// main thread; the level conversions from any thread.
#pragma once

#include <spdlog/common.h>

#include <cstdint>
#include <limits>
#include <string>

namespace zelto {

class LoggingManager {
 public:
  static constexpr uint64_t kLogFlagError = 1;
  static constexpr uint64_t kLogFlagWarning = 2;
  static constexpr uint64_t kLogFlagInfo = 4;
  static constexpr uint64_t kLogFlagDebug = 8;
  static constexpr uint64_t kLogFlagVerbose = 16;
  static constexpr uint64_t kLogLevelAll = std::numeric_limits<uint64_t>::max();

  static uint64_t getLogLevelFromName(const std::string& name);
  static std::string getNameFromLogLevel(uint64_t level);

  // The level stored under "logLevel" in the standard user defaults (7, "info", when absent).
  static uint64_t getLogLevel();
  // Stores the level's name and synchronises the defaults; running sinks keep their level
  // until the next `setup`.
  static void setLogLevel(uint64_t level);

  // Replaces every logger with the three sinks at the stored level.
  static void setup();
  // Flushes and drops the sinks. Call before the process exits, once no other thread logs.
  static void shutdown();

  // The least severe spdlog level a sink with this mask writes.
  static spdlog::level::level_enum thresholdForLogLevel(uint64_t level);

  // The log file the daily sink writes today's lines into (its name gets the date added).
  static std::string logFileBaseName();
};

}  // namespace zelto
