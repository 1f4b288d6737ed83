// Status and Result<T>: how an operation that can fail says so.
//
// A Status is success or a failure with a one-line reason for people (the system's message,
// naming the path or value at fault) and a kind for the program (not found, permission denied,
// invalid input, I/O error, busy...), so that a caller that treats one kind apart (nothing at a
// path, a lock held by another) asks `isNotFound()` rather than reading the text. A Result<T> is
// a T or a failed Status. Operations return one of these instead of throwing across module
// boundaries, and instead of a flag with an out-parameter or an empty optional that can't say
// why.
//
//   Result<FileStatus> found = fs.inspect(path);
//   if (found.status().isNotFound()) return std::nullopt;  // nothing there: an answer
//   if (!found.ok()) return found.status();                 // passes the reason on
//   use(*found);
//
// `failure` makes a failure of the kind kUnknown; the named factories give the kind, and
// `fromErrno` takes it from the system's error number (ENOENT is not found, EACCES permission
// denied, EAGAIN busy...), with the system's message after the context.
//
// Plain values, copied freely; any thread.
#pragma once

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace zelto {

class [[nodiscard]] Status {
 public:
  enum class Kind {
    kOk,
    kUnknown,           // a failure of no particular kind
    kNotFound,          // nothing stands at the path, no such entry or process
    kPermissionDenied,  // the system refuses it to this user
    kInvalidInput,      // the input (a file's content, an argument) is malformed or out of range
    kIOError,           // reading or writing failed on the way
    kBusy,              // held or in use by another (a lock, an address); may succeed later
    kUnavailable,       // a facility the system lacks (a library, a kernel feature)
    kClosed,            // the connection or descriptor is closed or shut down
  };

  // Success.
  Status() = default;
  static Status success() { return Status(); }
  // A failure with its reason. An empty reason still fails (it reads "unknown error").
  static Status failure(std::string reason) { return failure(Kind::kUnknown, std::move(reason)); }
  static Status failure(Kind kind, std::string reason) {
    Status status;
    status.kind_ = kind == Kind::kOk ? Kind::kUnknown : kind;
    status.reason_ = reason.empty() ? std::string("unknown error") : std::move(reason);
    return status;
  }
  static Status notFound(std::string reason) { return failure(Kind::kNotFound, std::move(reason)); }
  static Status permissionDenied(std::string reason) {
    return failure(Kind::kPermissionDenied, std::move(reason));
  }
  static Status invalidInput(std::string reason) {
    return failure(Kind::kInvalidInput, std::move(reason));
  }
  static Status ioError(std::string reason) { return failure(Kind::kIOError, std::move(reason)); }
  static Status busy(std::string reason) { return failure(Kind::kBusy, std::move(reason)); }
  static Status unavailable(std::string reason) {
    return failure(Kind::kUnavailable, std::move(reason));
  }
  static Status closed(std::string reason) { return failure(Kind::kClosed, std::move(reason)); }

  // The kind of a failure of the system's error number `error`.
  static Kind kindOfErrno(int error) {
    switch (error) {
      case 0:
        return Kind::kUnknown;
      case ENOENT:
      case ENOTDIR:
      case ESRCH:
      case ENXIO:
        return Kind::kNotFound;
      case EACCES:
      case EPERM:
      case EROFS:
        return Kind::kPermissionDenied;
      case EINVAL:
      case ENAMETOOLONG:
      case ELOOP:
      case EISDIR:
      case EFBIG:
      case ERANGE:
        return Kind::kInvalidInput;
      case EBUSY:
      case EAGAIN:
      case EADDRINUSE:
      case ETXTBSY:
      case EINTR:
        return Kind::kBusy;
      case ENOSYS:
      case EOPNOTSUPP:
      case EAFNOSUPPORT:
      case EPROTONOSUPPORT:
        return Kind::kUnavailable;
      case EBADF:
      case EPIPE:
      case ECONNRESET:
      case ENOTCONN:
      case ESHUTDOWN:
        return Kind::kClosed;
      default:
        return Kind::kIOError;
    }
  }
  // "context: the system's message for `error`", of the kind `error` has. An error number of 0
  // (a caller that read errno too late) is still a failure.
  static Status fromErrno(int error, const std::string& context) {
    const std::string text = error != 0 ? std::strerror(error) : "unknown error";
    return failure(kindOfErrno(error), context.empty() ? text : context + ": " + text);
  }
  // The same for the current errno.
  static Status fromErrno(const std::string& context) { return fromErrno(errno, context); }

  bool ok() const { return !reason_.has_value(); }
  Kind kind() const { return kind_; }
  bool isNotFound() const { return kind_ == Kind::kNotFound; }
  bool isPermissionDenied() const { return kind_ == Kind::kPermissionDenied; }
  bool isInvalidInput() const { return kind_ == Kind::kInvalidInput; }
  bool isIOError() const { return kind_ == Kind::kIOError; }
  bool isBusy() const { return kind_ == Kind::kBusy; }
  bool isUnavailable() const { return kind_ == Kind::kUnavailable; }
  bool isClosed() const { return kind_ == Kind::kClosed; }

  // The reason of a failure; "" on success.
  const std::string& message() const {
    static const std::string kNone;
    return reason_ ? *reason_ : kNone;
  }
  // The same failure (of the same kind) with `context` put before its reason ("context:
  // reason").
  Status withContext(const std::string& context) const {
    if (ok() || context.empty()) return *this;
    return failure(kind_, context + ": " + *reason_);
  }

  // For a caller that has nothing to add to a failure the operation already reported (logged):
  // drops the status on purpose, where the compiler would otherwise insist on its use.
  void ignoreError() const {}

  bool operator==(const Status&) const = default;

 private:
  Kind kind_ = Kind::kOk;
  std::optional<std::string> reason_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit, like returning a T
  // REQUIRES: !status.ok()
  // A success given here (a caller's mistake) still fails, rather than seem to hold a value.
  Result(Status status) : state_(std::move(status)) {  // NOLINT: implicit, to pass failures on
    if (std::get<Status>(state_).ok()) state_ = Status::failure("no value");
  }

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  // Success when a value is held.
  Status status() const { return ok() ? Status() : std::get<Status>(state_); }

  // REQUIRES: ok()
  T& value() & { return std::get<T>(state_); }
  const T& value() const& { return std::get<T>(state_); }
  T&& value() && { return std::get<T>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }
  // The value as an optional, for callers that need no reason.
  std::optional<T> toOptional() const& { return ok() ? std::optional<T>(value()) : std::nullopt; }

 private:
  std::variant<T, Status> state_;
};

}  // namespace zelto
