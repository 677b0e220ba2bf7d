#pragma once
// The one error type of the project: an operation gives a value or a message that says
// what failed, on which path, and why. Messages are UTF-8.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace veltrane {

struct Error {
  std::string message;
};

inline Error Fail(std::string message) {
  return Error{std::move(message)};
}

// The one form of a failed operation on a file or other named thing, in every program:
// Cannot <operation> "<path>": <reason>
inline Error CannotOn(std::string_view operation, std::string_view path, std::string_view reason) {
  std::string text = "Cannot ";
  text.append(operation).append(" \"").append(path).append("\": ").append(reason);
  return Error{std::move(text)};
}

template <class T = void>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return std::get<1>(state_); }
  const std::string& message() const { return error().message; }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return *error_; }
  const std::string& message() const { return error_->message; }

 private:
  std::optional<Error> error_;
};

}  // namespace veltrane
