/// \file ZMSet.h
/// The small set type behind every option set of the component (TZMExtrOpts,
/// TZMAddOpts, TZMSkipAborts and the rest): bit n stands for the enumeration member of
/// ordinal n.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <type_traits>

/// A set of members of the enumeration \p E, held in \p Bits bits (8, 16 or 32): bit n
/// stands for the member of ordinal n. Members whose ordinal is negative or not below
/// \p Bits can never be members; including them does nothing. The empty set is the
/// default.
template <typename E, int Bits>
class Set {
  static_assert(std::is_enum_v<E>, "Set holds members of an enumeration");
  static_assert(Bits == 8 || Bits == 16 || Bits == 32, "sets are 8, 16 or 32 bits wide");

 public:
  /// The unsigned integer that holds the bits: 8, 16 or 32 bits wide.
  using TBits = std::conditional_t<Bits == 8, uint8_t, std::conditional_t<Bits == 16, uint16_t, uint32_t>>;

  /// The empty set.
  constexpr Set() = default;
  /// The set of the members listed, such as `TZMExtrOpts{ExtrDirNames, ExtrOverWrite}`.
  constexpr Set(std::initializer_list<E> members) {
    for (E m : members) Include(m);
  }
  /// The set whose raw bits are given; bits outside the width are dropped.
  static constexpr Set FromBits(uint64_t bits) {
    Set s;
    s.FBits = TBits(bits);
    return s;
  }
  /// The raw bits: bit n set when the member of ordinal n is in the set.
  constexpr TBits ToBits() const { return FBits; }

  /// Whether \p m is a member. Ordinals outside the set's width are never members.
  constexpr bool Contains(E m) const {
    int n = int(m);
    return n >= 0 && n < Bits && (FBits >> n) & 1u;
  }
  /// Adds \p m (nothing when its ordinal is outside the width); returns this set.
  constexpr Set& Include(E m) {
    int n = int(m);
    if (n >= 0 && n < Bits) FBits = TBits(FBits | (TBits(1) << n));
    return *this;
  }
  /// Removes \p m (nothing when it is not a member); returns this set.
  constexpr Set& Exclude(E m) {
    int n = int(m);
    if (n >= 0 && n < Bits) FBits = TBits(FBits & ~(TBits(1) << n));
    return *this;
  }
  /// Whether the set has no member.
  constexpr bool Empty() const { return FBits == 0; }

  /// Union: the members of either set.
  constexpr Set operator+(Set o) const { return FromBits(FBits | o.FBits); }
  /// Difference: the members of this set that \p o lacks.
  constexpr Set operator-(Set o) const { return FromBits(FBits & ~o.FBits); }
  /// Intersection: the members of both sets.
  constexpr Set operator*(Set o) const { return FromBits(FBits & o.FBits); }
  /// Whether both sets have the same members.
  constexpr bool operator==(const Set&) const = default;

 private:
  TBits FBits = 0;
};
