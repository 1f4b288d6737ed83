// DailyLogFileSink: an spdlog sink that writes each day's lines into a file of their own,
// "<base>_YYYY-MM-DD<extension>" after the local date, a new file at every midnight, only the
// newest `maxFiles` kept (older ones are removed as a new day begins).
//
// The files are private: a new one is created with mode 0600 and one found wider (left by an
// earlier version) is narrowed to it. The day's file is opened without following a symbolic
// link at its name, and only a regular file is written, so a link planted there is refused
// instead of written through. `createFolder` makes the folder for them private likewise.
//
// Ownership: shared by the loggers it is given to; the descriptor closes with the last of them.
// Thread safety: any thread (writes are serialised by the sink's mutex).
#pragma once

#include <spdlog/sinks/base_sink.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "Platform/Linux/FileDescriptor.h"
#include "Platform/Status.h"

namespace zelto {

class DailyLogFileSink final : public spdlog::sinks::base_sink<std::mutex> {
 public:
  // Opens today's file for `basePath` (e.g. ".../Logs/Agent.log"). Fails, naming the file and
  // the reason, when it can't be opened or isn't a regular file.
  static Result<std::shared_ptr<DailyLogFileSink>> open(const std::string& basePath,
                                                        uint16_t maxFiles);

  // Creates `path` and whatever parents are missing, each new folder readable by its owner
  // only (0700). Parents that already exist are the user's and stay as they are; `path` itself
  // holds nothing but these logs, so when it exists with a wider mode it is narrowed to 0700
  // (unless it is a link to a folder elsewhere, which is the user's choice).
  static Status createFolder(const std::string& path);

  // The file lines are being written into now.
  std::string filename();

 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override;
  void flush_() override {}  // every line is written straight to the file

 private:
  DailyLogFileSink(std::string basePath, uint16_t maxFiles);
  Status openDay(spdlog::log_clock::time_point day);
  spdlog::log_clock::time_point nextRotation() const;
  void rememberExistingFiles();
  void removeOldest();

  const std::string basePath_;
  const uint16_t maxFiles_;
  std::string filename_;
  FileDescriptor fd_;
  spdlog::log_clock::time_point rotation_;
  std::deque<std::string> kept_;  // oldest first, today's last
};

}  // namespace zelto
