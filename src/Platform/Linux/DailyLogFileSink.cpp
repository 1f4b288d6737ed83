#include "Platform/DailyLogFileSink.h"

#include <errno.h>
#include <fcntl.h>
#include <spdlog/details/os.h>
#include <spdlog/sinks/daily_file_sink.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <vector>

#include "Platform/FileSystem.h"

namespace zelto {

namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

Status failure(const std::string& what, const std::string& path, int err) {
  return Status::fromErrno(err, what + " " + path);
}

std::tm localDate(spdlog::log_clock::time_point moment) {
  return spdlog::details::os::localtime(spdlog::log_clock::to_time_t(moment));
}

std::string dayFileName(const std::string& basePath, spdlog::log_clock::time_point day) {
  return spdlog::sinks::daily_filename_calculator::calc_filename(basePath, localDate(day));
}

}  // namespace

Status DailyLogFileSink::createFolder(const std::string& path) {
  if (path.empty()) return Status::failure("No directory path given");
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    std::string current = path.substr(0, pos);
    if (::mkdir(current.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      return failure("Can't create directory", current, errno);
    }
  }
  FileDescriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!folder.valid()) {
    const int err = errno;
    // A link to a folder elsewhere is used as it is.
    if (err == ELOOP && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return Status::success();
    }
    if (err == ENOTDIR || err == ELOOP) {
      return Status::failure("Can't create directory " + path + ": a file stands in the way");
    }
    return failure("Can't create directory", path, err);
  }
  Result<struct stat> folderStatus = folder.stat();
  if (!folderStatus.ok()) return folderStatus.status().withContext("Can't inspect " + path);
  st = *folderStatus;
  if ((st.st_mode & 07777) != kFolderMode && st.st_uid == ::geteuid() &&
      ::fchmod(folder.get(), kFolderMode) != 0) {
    return failure("Can't make private", path, errno);
  }
  return Status::success();
}

Result<std::shared_ptr<DailyLogFileSink>> DailyLogFileSink::open(const std::string& basePath,
                                                                 uint16_t maxFiles) {
  std::shared_ptr<DailyLogFileSink> sink(new DailyLogFileSink(basePath, maxFiles));
  Status opened = sink->openDay(spdlog::log_clock::now());
  if (!opened.ok()) return opened;
  sink->rotation_ = sink->nextRotation();
  if (maxFiles > 0) sink->rememberExistingFiles();
  return sink;
}

DailyLogFileSink::DailyLogFileSink(std::string basePath, uint16_t maxFiles)
    : basePath_(std::move(basePath)), maxFiles_(maxFiles) {}

std::string DailyLogFileSink::filename() {
  std::lock_guard<std::mutex> lock(mutex_);
  return filename_;
}

Status DailyLogFileSink::openDay(spdlog::log_clock::time_point day) {
  fd_.reset();
  filename_ = dayFileName(basePath_, day);
  // Non-blocking so that a FIFO at the name can't hold the process up; it is refused below.
  const int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  FileDescriptor fd(::open(filename_.c_str(), flags, kFileMode));
  if (!fd.valid() && errno == ENOENT) {
    // The folder went away while running: make it anew, as the first start did.
    if (createFolder(path::deletingLastComponent(filename_)).ok()) {
      fd.reset(::open(filename_.c_str(), flags, kFileMode));
    }
  }
  if (!fd.valid()) return failure("Can't open log file", filename_, errno);
  Result<struct stat> status = fd.stat();
  if (!status.ok()) return status.status().withContext("Can't inspect log file " + filename_);
  const struct stat& st = *status;
  if (!S_ISREG(st.st_mode)) {
    return Status::failure("Can't open log file " + filename_ + ": not a regular file");
  }
  if ((st.st_mode & 07777) != kFileMode && ::fchmod(fd.get(), kFileMode) != 0) {
    return failure("Can't make private", filename_, errno);
  }
  fd_ = std::move(fd);
  return Status::success();
}

// The next local midnight after now.
spdlog::log_clock::time_point DailyLogFileSink::nextRotation() const {
  auto now = spdlog::log_clock::now();
  std::tm date = localDate(now);
  date.tm_hour = 0;
  date.tm_min = 0;
  date.tm_sec = 0;
  auto midnight = spdlog::log_clock::from_time_t(std::mktime(&date));
  return midnight > now ? midnight : midnight + std::chrono::hours(24);
}

// The files of the days before today, as far back as they go without a gap, count toward the
// files kept.
void DailyLogFileSink::rememberExistingFiles() {
  kept_.clear();
  std::vector<std::string> found;
  auto day = spdlog::log_clock::now();
  while (found.size() < maxFiles_) {
    std::string name = dayFileName(basePath_, day);
    if (!spdlog::details::os::path_exists(name)) break;
    found.push_back(std::move(name));
    day -= std::chrono::hours(24);
  }
  for (auto it = found.rbegin(); it != found.rend(); ++it) kept_.push_back(std::move(*it));
}

void DailyLogFileSink::removeOldest() {
  if (kept_.size() >= maxFiles_) {
    std::string oldest = std::move(kept_.front());
    kept_.pop_front();
    if (spdlog::details::os::remove_if_exists(oldest) != 0) {
      kept_.push_back(filename_);
      spdlog::throw_spdlog_ex("Failed removing daily file " + oldest, errno);
    }
  }
  kept_.push_back(filename_);
}

void DailyLogFileSink::sink_it_(const spdlog::details::log_msg& msg) {
  const bool rotate = msg.time >= rotation_;
  if (rotate) {
    // A day whose file can't be opened is tried again at the next line.
    if (Status opened = openDay(msg.time); !opened.ok()) spdlog::throw_spdlog_ex(opened.message());
    rotation_ = nextRotation();
  }
  spdlog::memory_buf_t formatted;
  formatter_->format(msg, formatted);
  if (Status written = fd_.writeAll(std::string_view(formatted.data(), formatted.size()));
      !written.ok()) {
    spdlog::throw_spdlog_ex("Failed writing to file " + filename_ + ": " + written.message());
  }
  // Old files go only once the line is written, since removing them may fail.
  if (rotate && maxFiles_ > 0) removeOldest();
}

}  // namespace zelto
