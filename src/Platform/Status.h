// Status and Result<T>: how an operation that can fail says so.
//
// A Status is success or a failure with a one-line reason for people (the system's message,
// naming the path or value at fault). A Result<T> is a T or a failed Status. Operations return
// one of these instead of throwing across module boundaries, and instead of a flag with an
// out-parameter or an empty optional that can't say why.
//
//   Result<std::string> text = fs.readFile(path, maxBytes);
//   if (!text.ok()) return text.status();          // passes the reason on
//   use(*text);
//
// Plain values, copied freely; any thread.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace zelto {

class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;
  static Status success() { return Status(); }
  // A failure with its reason. An empty reason still fails (it reads "unknown error").
  static Status failure(std::string reason) {
    Status status;
    status.reason_ = reason.empty() ? std::string("unknown error") : std::move(reason);
    return status;
  }

  bool ok() const { return !reason_.has_value(); }
  // The reason of a failure; "" on success.
  const std::string& message() const {
    static const std::string kNone;
    return reason_ ? *reason_ : kNone;
  }
  // The same failure with `context` put before its reason ("context: reason").
  Status withContext(const std::string& context) const {
    if (ok() || context.empty()) return *this;
    return failure(context + ": " + *reason_);
  }

  // For a caller that has nothing to add to a failure the operation already reported (logged):
  // drops the status on purpose, where the compiler would otherwise insist on its use.
  void ignoreError() const {}

  bool operator==(const Status&) const = default;

 private:
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
