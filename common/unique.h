#pragma once
// One move-only owner for every kind of system resource: a kernel handle, a registry key, a
// font or a POSIX file descriptor. `Traits` says what the empty value is, which values are
// live and how one is released: static `Empty()`, `Live(value)` and `Release(value)`.

#include <utility>

namespace veltrane {

template <class Traits>
class Unique {
 public:
  using Value = decltype(Traits::Empty());

  Unique() = default;
  explicit Unique(Value value) : value_(value) {}
  Unique(Unique&& other) noexcept : value_(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  Value get() const { return value_; }
  bool valid() const { return Traits::Live(value_); }
  Value release() { return std::exchange(value_, Traits::Empty()); }
  void reset(Value value = Traits::Empty()) {
    if (valid()) Traits::Release(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::Empty();
};

}  // namespace veltrane
