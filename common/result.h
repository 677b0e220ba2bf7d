#pragma once
// The one error type of the project: an operation gives a value or a message that says
// what failed, on which path, and why. Messages are UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace veltrane {

struct Error {
  std::string message;
  std::uint32_t system_code = 0;  // the platform's error code, when a platform call failed
};

// The platform's code for "access denied" (ERROR_ACCESS_DENIED on Windows).
inline constexpr std::uint32_t kAccessDeniedCode = 5;

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

// A value or an error; the error is an Error unless a caller needs more than a message (it
// then has a `message` member of its own).
template <class T = void, class E = Error>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}
  Result(Error error) requires(!std::is_same_v<E, Error>)
      : state_(std::in_place_index<1>, E(std::move(error))) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const E& error() const { return std::get<1>(state_); }
  const std::string& message() const { return error().message; }

 private:
  std::variant<T, E> state_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : error_(std::move(error)) {}
  Result(Error error) requires(!std::is_same_v<E, Error>) : error_(E(std::move(error))) {}

  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const E& error() const { return *error_; }
  const std::string& message() const { return error_->message; }

 private:
  std::optional<E> error_;
};

}  // namespace veltrane
