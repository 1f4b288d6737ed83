#include "App/Helpers/LoggingManager.h"

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <syslog.h>

#include <vector>

#include "Platform/DailyLogFileSink.h"
#include "Platform/Directories.h"
#include "Platform/Env.h"
#include "Platform/FileSystem.h"
#include "Platform/Log.h"
#include "Platform/SystemLogSink.h"
#include "Platform/UserDefaults.h"

namespace zelto {

namespace {

constexpr const char* kLogLevelKey = "logLevel";
constexpr uint16_t kMaximumNumberOfLogFiles = 14;

struct NamedLevel {
  const char* name;
  uint64_t level;
};

constexpr NamedLevel kNamedLevels[] = {
    {"off", 0},
    {"error", LoggingManager::kLogFlagError},
    {"warning", LoggingManager::kLogFlagError | LoggingManager::kLogFlagWarning},
    {"info", LoggingManager::kLogFlagError | LoggingManager::kLogFlagWarning |
                 LoggingManager::kLogFlagInfo},
    {"debug", LoggingManager::kLogFlagError | LoggingManager::kLogFlagWarning |
                  LoggingManager::kLogFlagInfo | LoggingManager::kLogFlagDebug},
    {"all", LoggingManager::kLogLevelAll},
};

std::string processName() {
  BundleInfo bundle = Env::mainBundle();
  std::string name = path::lastComponent(bundle.executablePath);
  return name.empty() ? "zelto" : name;
}

}  // namespace

uint64_t LoggingManager::getLogLevelFromName(const std::string& name) {
  for (const auto& entry : kNamedLevels) {
    if (name == entry.name) return entry.level;
  }
  return getLogLevelFromName("info");
}

std::string LoggingManager::getNameFromLogLevel(uint64_t level) {
  // All five flags (verbose) read back as "all": that mask has no name of its own.
  if (level == (kLogFlagError | kLogFlagWarning | kLogFlagInfo | kLogFlagDebug | kLogFlagVerbose)) {
    return "all";
  }
  for (const auto& entry : kNamedLevels) {
    if (level == entry.level) return entry.name;
  }
  return "off";
}

uint64_t LoggingManager::getLogLevel() {
  auto name = UserDefaults::standard().stringForKey(kLogLevelKey);
  return getLogLevelFromName(name.value_or(""));
}

void LoggingManager::setLogLevel(uint64_t level) {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(getNameFromLogLevel(level), kLogLevelKey);
  if (Status stored = defaults.synchronize(); !stored.ok()) {
    log::error("Could not store the log level: {}", stored.message());
  }
}

spdlog::level::level_enum LoggingManager::thresholdForLogLevel(uint64_t level) {
  if (level & kLogFlagVerbose) return spdlog::level::trace;
  if (level & kLogFlagDebug) return spdlog::level::debug;
  if (level & kLogFlagInfo) return spdlog::level::info;
  if (level & kLogFlagWarning) return spdlog::level::warn;
  if (level & kLogFlagError) return spdlog::level::err;
  return spdlog::level::off;
}

std::string LoggingManager::logFileBaseName() { return processName() + ".log"; }

void LoggingManager::setup() {
  spdlog::drop_all();
  const uint64_t level = getLogLevel();
  const spdlog::level::level_enum threshold = thresholdForLogLevel(level);
  const std::string name = processName();

  std::vector<spdlog::sink_ptr> sinks;
  // The system log adds its own time stamp and level, so it gets the bare message.
  auto system = std::make_shared<SystemLogSink>(name, LOG_PID, LOG_USER);
  system->set_level(threshold);
  sinks.push_back(system);

  auto console = std::make_shared<spdlog::sinks::stderr_color_sink_mt>();
  console->set_level(threshold);
  sinks.push_back(console);

  std::string fileProblem;
  if (auto logs = Env::directories().logsDirectory()) {
    // The logs tell what the user blocks and when: only the user may read them.
    Status created = DailyLogFileSink::createFolder(*logs);
    fileProblem = created.message();
    if (created.ok()) {
      // A new file every day at midnight; the newest 14 are kept.
      auto file = DailyLogFileSink::open(path::appendingComponent(*logs, logFileBaseName()),
                                         kMaximumNumberOfLogFiles);
      if (file.ok()) {
        (*file)->set_level(threshold);
        sinks.push_back(*file);
      } else {
        fileProblem = file.status().message();
      }
    }
  } else {
    fileProblem = "the home directory is unknown";
  }

  // Lines are written synchronously by the thread that logs them: the agent writes a few lines a
  // minute, so a delivery thread would only cost a resident queue and periodic wake-ups. Each
  // sink serialises its own writes.
  auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
  logger->set_level(spdlog::level::trace);  // each sink filters by its own level
  // Flushing every line keeps the file current for anyone following it and loses nothing if
  // the process is killed.
  logger->flush_on(spdlog::level::trace);
  spdlog::set_default_logger(logger);

  if (!fileProblem.empty()) log::warning("Not writing a log file: {}", fileProblem);
}

void LoggingManager::shutdown() {
  if (auto logger = spdlog::default_logger()) logger->flush();
  spdlog::shutdown();
}

}  // namespace zelto
