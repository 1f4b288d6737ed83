#include "Platform/LocalSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>

#include "Platform/Linux/FileDescriptor.h"

namespace zelto {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Waits until `fd` is ready for `events` or the deadline passes.
bool await(const FileDescriptor& fd, short events, SteadyClock::time_point deadline) {
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return false;
    pollfd polled{fd.get(), events, 0};
    const int ready = ::poll(&polled, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

Result<std::string> LocalSocket::exchange(const std::string& path, const std::string& request,
                                          double timeoutSeconds, uint64_t maxAnswerBytes) {
  const auto deadline =
      SteadyClock::now() + std::chrono::milliseconds(static_cast<int64_t>(timeoutSeconds * 1000));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    return Status::invalidInput("Not a usable socket path: \"" + path + "\"");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return Status::fromErrno("Can't make a socket");
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS && errno != EAGAIN) {
    const int error = errno;
    const bool absent = error == ENOENT || error == ECONNREFUSED || error == ENOTSOCK;
    Status failed = Status::fromErrno(error, "Nothing answers at " + path);
    return absent ? Status::unavailable(failed.message()) : failed;
  }
  for (size_t sent = 0; sent < request.size();) {
    if (!await(fd, POLLOUT, deadline)) return Status::ioError("No answer at " + path + " in time");
    const ssize_t wrote =
        ::send(fd.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      return Status::fromErrno("Can't send to " + path);
    }
    if (wrote > 0) sent += static_cast<size_t>(wrote);
  }
  ::shutdown(fd.get(), SHUT_WR);
  std::string answer;
  char buffer[64 * 1024];
  while (true) {
    if (!await(fd, POLLIN, deadline)) return Status::ioError("No answer at " + path + " in time");
    auto got = fd.read(buffer, sizeof buffer);
    if (!got) {
      if (got.status().isBusy()) continue;
      return got.status().withContext("Can't read the answer at " + path);
    }
    if (*got == 0) return answer;
    answer.append(buffer, *got);
    if (answer.size() > maxAnswerBytes) return Status::ioError("Too long an answer at " + path);
  }
}

}  // namespace zelto
