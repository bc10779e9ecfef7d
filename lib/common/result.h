// Value-or-error return type used by every fallible function, and the TRY
// macros that propagate the error to the caller.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace strewmill::common {

// Wraps an error so a Result can be built from it unambiguously.
template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<std::decay_t<E>> fail(E&& e) {
  return Unexpected<std::decay_t<E>>{std::forward<E>(e)};
}

template <class T, class E>
class [[nodiscard]] Result {
 public:
  using value_type = T;
  using error_type = E;

  Result(const T& v) : v_(std::in_place_index<0>, v) {}
  Result(T&& v) : v_(std::in_place_index<0>, std::move(v)) {}
  template <class G>
    requires std::is_constructible_v<E, G&&>
  Result(Unexpected<G>&& u) : v_(std::in_place_index<1>, std::move(u.error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return *std::get_if<0>(&v_); }
  const T& value() const& { return *std::get_if<0>(&v_); }
  T&& value() && { return std::move(*std::get_if<0>(&v_)); }
  E& error() & { return *std::get_if<1>(&v_); }
  const E& error() const& { return *std::get_if<1>(&v_); }
  E&& error() && { return std::move(*std::get_if<1>(&v_)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, E> v_;
};

template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  using value_type = void;
  using error_type = E;

  Result() = default;
  template <class G>
    requires std::is_constructible_v<E, G&&>
  Result(Unexpected<G>&& u) : e_(std::in_place, std::move(u.error)) {}

  bool ok() const { return !e_.has_value(); }
  explicit operator bool() const { return ok(); }
  void value() const {}
  E& error() & { return *e_; }
  const E& error() const& { return *e_; }
  E&& error() && { return std::move(*e_); }

 private:
  std::optional<E> e_;
};

}  // namespace strewmill::common

#define SM_CONCAT_INNER(a, b) a##b
#define SM_CONCAT(a, b) SM_CONCAT_INNER(a, b)
#define SM_UNIQ(name) SM_CONCAT(name, __LINE__)

// TRY(expr): evaluates a Result; on error returns the error from the
// enclosing function (converted to its error type).
#define TRY(expr)                                                        \
  do {                                                                   \
    auto sm_try_result_ = (expr);                                        \
    if (!sm_try_result_)                                                 \
      return ::strewmill::common::fail(std::move(sm_try_result_).error()); \
  } while (0)

// TRY_ASSIGN(decl, expr): like TRY, then binds the value to `decl`
// (for example `TRY_ASSIGN(auto n, cur.u32())`).
#define TRY_ASSIGN(decl, expr)                                             \
  auto SM_UNIQ(sm_try_value_) = (expr);                                    \
  if (!SM_UNIQ(sm_try_value_))                                             \
    return ::strewmill::common::fail(std::move(SM_UNIQ(sm_try_value_)).error()); \
  decl = std::move(SM_UNIQ(sm_try_value_)).value()
