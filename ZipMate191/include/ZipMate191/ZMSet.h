// A small set of enumeration members: bit n stands for the member of ordinal n.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <type_traits>

template <typename E, int Bits>
class Set {
  static_assert(std::is_enum_v<E>, "Set holds members of an enumeration");
  static_assert(Bits == 8 || Bits == 16 || Bits == 32, "sets are 8, 16 or 32 bits wide");

 public:
  using TBits = std::conditional_t<Bits == 8, uint8_t, std::conditional_t<Bits == 16, uint16_t, uint32_t>>;

  constexpr Set() = default;
  constexpr Set(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  // The set whose raw bits are given; bits outside the width are dropped.
  static constexpr Set FromBits(uint64_t bits) {
    Set s;
    s.FBits = TBits(bits);
    return s;
  }
  constexpr TBits ToBits() const { return FBits; }

  // Ordinals outside the set's width are never members.
  constexpr bool Contains(E m) const {
    int n = int(m);
    return n >= 0 && n < Bits && (FBits >> n) & 1u;
  }
  constexpr Set& Include(E m) {
    int n = int(m);
    if (n >= 0 && n < Bits) FBits = TBits(FBits | (TBits(1) << n));
    return *this;
  }
  constexpr Set& Exclude(E m) {
    int n = int(m);
    if (n >= 0 && n < Bits) FBits = TBits(FBits & ~(TBits(1) << n));
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }

  constexpr Set operator+(Set o) const { return FromBits(FBits | o.FBits); }
  constexpr Set operator-(Set o) const { return FromBits(FBits & ~o.FBits); }
  constexpr Set operator*(Set o) const { return FromBits(FBits & o.FBits); }
  constexpr bool operator==(const Set&) const = default;

 private:
  TBits FBits = 0;
};
