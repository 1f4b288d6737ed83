// KeepAliveOrigin: a raw HTTP/1.1 origin for the proxy's end-to-end tests, on its own thread.
//
// It keeps every connection open whatever it is told (it ignores "Connection: close"), reads
// each request itself (the head, then a body framed by Content-Length or chunked, chunked
// winning), records it, and answers 200 with bodyFor(target): "hit TARGET", and, when the
// target holds "size=N", a line break and N varied bytes; a target holding "chunked" is
// answered chunked; HEAD gets the head alone. So a test sees exactly what reached it.
//
// readHttpMessage, the framing it reads requests with, reads responses for the tests' clients.
// Construct and query from the test's thread; the server's thread ends with the object.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Platform/Linux/FileDescriptor.h"

namespace zelto::testing {

// One HTTP/1.1 message read off a connection: its start line's first two words (a request's
// method and target, or a response's version and status), its fields and its body (without
// its chunked framing).
struct HttpMessage {
  std::string first;
  std::string second;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string body;

  static bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(a[i])) !=
          std::tolower(static_cast<unsigned char>(b[i])))
        return false;
    }
    return true;
  }
  // The first field named `name` (in any case); empty when there is none.
  std::string field(std::string_view name) const {
    for (const auto& [key, value] : fields) {
      if (sameText(key, name)) return value;
    }
    return {};
  }
};

// The length of the first whole message at the start of `bytes`, read into `message`; 0 when
// more bytes must come, npos when the bytes are no HTTP. `answering`: for a response, the
// method it answers (HEAD's answer and a CONNECT's 2xx have no body). `ended`: no more bytes
// will come (a response without framing ends with its connection).
inline size_t readHttpMessage(std::string_view bytes, HttpMessage& message,
                              std::string_view answering = {}, bool ended = false) {
  constexpr size_t kNone = std::string_view::npos;
  const size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == kNone) return 0;
  std::string_view head = bytes.substr(0, headEnd + 2);
  size_t lineEnd = head.find("\r\n");
  std::string_view line = head.substr(0, lineEnd);
  const size_t space = line.find(' ');
  if (space == kNone || space == 0) return kNone;
  message = HttpMessage();
  message.first = line.substr(0, space);
  line.remove_prefix(space + 1);
  message.second = line.substr(0, line.find(' '));
  for (size_t at = lineEnd + 2; at < head.size(); at = lineEnd + 2) {
    lineEnd = head.find("\r\n", at);
    std::string_view field = head.substr(at, lineEnd - at);
    const size_t colon = field.find(':');
    if (colon == kNone) return kNone;
    std::string_view value = field.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    message.fields.emplace_back(field.substr(0, colon), value);
  }

  const bool response = message.first.starts_with("HTTP/");
  const size_t bodyStart = headEnd + 4;
  if (response &&
      (HttpMessage::sameText(answering, "HEAD") ||
       (HttpMessage::sameText(answering, "CONNECT") && message.second.starts_with('2')))) {
    return bodyStart;
  }
  if (message.field("Transfer-Encoding").find("chunked") != std::string::npos) {
    size_t at = bodyStart;
    while (true) {
      const size_t sizeEnd = bytes.find("\r\n", at);
      if (sizeEnd == kNone) return 0;
      std::string_view sizeText = bytes.substr(at, sizeEnd - at);
      sizeText = sizeText.substr(0, sizeText.find(';'));
      size_t size = 0;
      auto [end, error] =
          std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), size, 16);
      if (error != std::errc() || end == sizeText.data()) return kNone;
      at = sizeEnd + 2;
      if (size == 0) break;
      if (bytes.size() < at + size + 2) return 0;
      if (bytes.substr(at + size, 2) != "\r\n") return kNone;
      message.body.append(bytes.substr(at, size));
      at += size + 2;
    }
    while (true) {  // the trailer's fields, up to an empty line
      const size_t fieldEnd = bytes.find("\r\n", at);
      if (fieldEnd == kNone) return 0;
      const bool last = fieldEnd == at;
      at = fieldEnd + 2;
      if (last) return at;
    }
  }
  if (const std::string length = message.field("Content-Length"); !length.empty()) {
    size_t size = 0;
    auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), size);
    if (error != std::errc() || end != length.data() + length.size()) return kNone;
    if (bytes.size() < bodyStart + size) return 0;
    message.body = bytes.substr(bodyStart, size);
    return bodyStart + size;
  }
  if (!response) return bodyStart;
  if (!ended) return 0;
  message.body = bytes.substr(bodyStart);
  return bytes.size();
}

// What reached an origin: one request.
struct OriginRequest {
  std::string method;
  std::string target;
  std::string host;  // the Host field
  std::string body;
  bool operator==(const OriginRequest&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const OriginRequest& request) {
    return out << request.method << ' ' << request.target << " (Host: " << request.host
               << ", body: \"" << request.body << "\")";
  }
};

class KeepAliveOrigin {
 public:
  // Listens on `ip` (a loopback address: 127.0.0.2 acts as another host) at a free port.
  explicit KeepAliveOrigin(std::string ip = "127.0.0.1") : ip_(std::move(ip)) {
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    wake_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    if (::inet_pton(AF_INET, ip_.c_str(), &address.sin_addr) != 1 ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), SOMAXCONN) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;  // port() stays 0
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~KeepAliveOrigin() {
    const uint64_t one = 1;
    if (::write(wake_.get(), &one, sizeof one) < 0) {
      // Can't fail on an eventfd below its maximum.
    }
    if (thread_.joinable()) thread_.join();
  }
  KeepAliveOrigin(const KeepAliveOrigin&) = delete;
  KeepAliveOrigin& operator=(const KeepAliveOrigin&) = delete;

  int port() const { return port_; }
  // "IP:PORT": the Host field a request for it carries, and the pattern that blocks it.
  std::string authority() const { return ip_ + ":" + std::to_string(port_); }
  std::string url(const std::string& path) const { return "http://" + authority() + path; }

  // Every request received, in order.
  std::vector<OriginRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  static std::string bodyFor(std::string_view target) {
    std::string body = "hit " + std::string(target);
    if (const size_t at = target.find("size="); at != std::string_view::npos) {
      size_t size = 0;
      std::from_chars(target.data() + at + 5, target.data() + target.size(), size);
      body += '\n';
      for (size_t i = 0; i < size; ++i) body.push_back(static_cast<char>((i * 7 + 3) % 256));
    }
    return body;
  }

 private:
  struct Connection {
    FileDescriptor fd;
    std::string in;
    std::string out;
    bool open = true;
  };

  void run() {
    std::vector<Connection> connections;
    while (true) {
      std::vector<pollfd> polled{{wake_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
      for (const Connection& connection : connections) {
        const short events = connection.out.empty() ? POLLIN : POLLIN | POLLOUT;
        polled.push_back({connection.fd.get(), events, 0});
      }
      if (::poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) return;
      if (polled[0].revents != 0) return;
      for (size_t i = 0; i < connections.size(); ++i) {
        Connection& connection = connections[i];
        if (polled[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) receive(connection);
        answer(connection);
        flush(connection);
      }
      std::erase_if(connections, [](const Connection& connection) { return !connection.open; });
      if (polled[1].revents & POLLIN) {
        while (true) {
          const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (fd < 0) break;
          connections.push_back({FileDescriptor(fd), {}, {}, true});
        }
      }
    }
  }

  static void receive(Connection& connection) {
    char buffer[64 * 1024];
    while (true) {
      const ssize_t got = ::recv(connection.fd.get(), buffer, sizeof buffer, 0);
      if (got > 0) {
        connection.in.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
      connection.open = false;
      return;
    }
  }

  void answer(Connection& connection) {
    while (connection.open) {
      HttpMessage request;
      const size_t used = readHttpMessage(connection.in, request);
      if (used == 0) return;
      std::lock_guard lock(mutex_);
      if (used == std::string_view::npos) {
        requests_.push_back({"(not HTTP)", std::exchange(connection.in, {}), "", ""});
        connection.open = false;
        return;
      }
      requests_.push_back({request.first, request.second, request.field("Host"), request.body});
      connection.in.erase(0, used);
      connection.out += responseTo(request);
    }
  }

  static std::string responseTo(const HttpMessage& request) {
    const std::string body = bodyFor(request.second);
    const bool head = request.first == "HEAD";
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
    if (request.second.find("chunked") == std::string::npos) {
      text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
      if (!head) text += body;
      return text;
    }
    text += "Transfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size() && !head; at += 4000) {
      const std::string_view chunk = std::string_view(body).substr(at, 4000);
      char size[16];
      auto end = std::to_chars(size, size + sizeof size, chunk.size(), 16).ptr;
      text.append(size, end).append("\r\n").append(chunk).append("\r\n");
    }
    if (!head) text += "0\r\n\r\n";
    return text;
  }

  static void flush(Connection& connection) {
    while (connection.open && !connection.out.empty()) {
      const ssize_t sent = ::send(connection.fd.get(), connection.out.data(), connection.out.size(),
                                  MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        connection.out.erase(0, static_cast<size_t>(sent));
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
      } else {
        connection.open = false;
      }
    }
  }

  std::string ip_;
  int port_ = 0;
  FileDescriptor listener_;
  FileDescriptor wake_;
  mutable std::mutex mutex_;
  std::vector<OriginRequest> requests_;
  std::thread thread_;
};

}  // namespace zelto::testing
