// FileSystemCalls: the system calls LocalFileSystem makes, gathered so tests can make them fail.
//
// `real()` holds the system's own functions; a test copies it, replaces the calls it wants to
// fail (setting errno as the system would) and hands the copy to a LocalFileSystem. Each call
// takes and returns exactly what the system call of its name does. Nothing else goes through
// here: the rest of the program calls the system directly.
//
// Ownership: a LocalFileSystem keeps its own copy. Threads: the calls may run on any thread, so
// a replacement that keeps state must guard it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>

#include "Platform/FileSystem.h"

namespace zelto {

// What a stat call filled in, as a FileStatus (for LocalFileSystem and whoever else stats a file
// the system's way, such as a process's executable through /proc).
FileStatus statusOf(const struct stat& st);

struct FileSystemCalls {
  std::function<int(const char* path, int flags, mode_t mode)> open;
  std::function<int(char* pattern, int flags)> mkostemp;
  std::function<ssize_t(int fd, void* buffer, size_t size)> read;
  std::function<ssize_t(int fd, const void* data, size_t size)> write;
  std::function<int(int fd, mode_t mode)> fchmod;
  std::function<int(int fd)> fsync;
  std::function<int(const char* from, const char* to)> rename;
  std::function<int(const char* path)> unlink;
  std::function<int(const char* path, struct stat* status)> stat;
  std::function<int(const char* path, struct stat* status)> lstat;

  static const FileSystemCalls& real();
};

}  // namespace zelto
