// A column of a traits table (the methods', the criteria's): a value with no default, so a
// row that leaves a column out does not compile.
#pragma once

#include <concepts>
#include <utility>

// A plain member would be zeroed with at most a warning; this one must be given.
template <class T> class VsfColumn {
public:
  template <class U>
  requires std::constructible_from<T, U>
  constexpr VsfColumn(U value) : value_(std::move(value)) {}
  constexpr operator const T&() const { return value_; }
  [[nodiscard]] constexpr const T& get() const { return value_; }

private:
  T value_;
};
