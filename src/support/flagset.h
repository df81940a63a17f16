// A set of bit flags of one enum class: the flags are set, cleared and asked by name, and a
// plain integer or a flag of another set is refused by the compiler. The set is as large as
// the enum's underlying type and zero-initialised records hold the empty set.
#pragma once

#include <type_traits>

template <typename E> class FlagSet {
  static_assert(std::is_enum_v<E> && !std::is_convertible_v<E, int>, "flags of an enum class");

public:
  using Bits = std::underlying_type_t<E>;

  constexpr FlagSet() = default;
  constexpr FlagSet(E flag) : bits_(static_cast<Bits>(flag)) {} // one flag is a set of one

  [[nodiscard]] constexpr bool has(E flag) const { return (bits_ & static_cast<Bits>(flag)) != 0; }
  // True when any flag of `flags` is set.
  [[nodiscard]] constexpr bool any(FlagSet flags) const { return (bits_ & flags.bits_) != 0; }
  [[nodiscard]] constexpr bool empty() const { return bits_ == 0; }
  constexpr void set(E flag) { bits_ = static_cast<Bits>(bits_ | static_cast<Bits>(flag)); }
  constexpr void clear(E flag) { bits_ = static_cast<Bits>(bits_ & ~static_cast<Bits>(flag)); }
  constexpr void set(E flag, bool on) { on ? set(flag) : clear(flag); }
  constexpr FlagSet& operator|=(FlagSet other) {
    bits_ = static_cast<Bits>(bits_ | other.bits_);
    return *this;
  }
  friend constexpr FlagSet operator|(FlagSet a, FlagSet b) { return a |= b; }
  friend constexpr bool operator==(FlagSet, FlagSet) = default;

private:
  Bits bits_ = 0;
};

template <typename E> [[nodiscard]] constexpr bool has(FlagSet<E> flags, E flag) {
  return flags.has(flag);
}

// `a | b` of two flags of an enum class that opts in by declaring, beside it,
// `constexpr bool isFlagEnum(E) { return true; }`: the set of both.
template <typename E>
requires requires(E e) { isFlagEnum(e); }
[[nodiscard]] constexpr FlagSet<E> operator|(E a, E b) { return FlagSet<E>{a} | b; }
