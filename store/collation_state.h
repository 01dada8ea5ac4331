// The collation state a table is created with: the case and collation rules
// its string key components were encoded under.  It travels with the table in
// its collation record so that keys keep their order whatever locale a later
// program runs with.
//
// Stored layout (1152 bytes; follows the OEM flag byte of the record):
//
//   0x000-0x0FF  sort weight of each ANSI character (key byte -> weight)
//   0x100-0x1FF  sort weight of each OEM character (the weight of its ANSI form)
//   0x200-0x2FF  upper-case map (used by NOCASE keys)
//   0x300-0x3FF  character classes: 0x01 lower-case letter, 0x02 upper-case
//                letter, 0x04 digit
//   0x400-0x47F  description: "CS", layout version 1, then 0x01 when the
//                weights are the identity; the rest zero
//
// A state is plain data: copying is cheap and it is safe to read from any
// thread once built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pr::store {

inline constexpr size_t kCollationStateSize = 1152;
inline constexpr size_t kCollationRecordSize = 1 + kCollationStateSize;

inline constexpr uint8_t kClassLower = 0x01;
inline constexpr uint8_t kClassUpper = 0x02;
inline constexpr uint8_t kClassDigit = 0x04;

class CollationState {
 public:
  // The default rules: A-Z paired with a-z, digits classed as digits, every
  // character sorting by its own code.
  CollationState();

  // Builds a state from the runtime's tables.  `caseClass[c]` uses bit 0 for
  // an upper-case letter and bit 1 for a lower-case letter (value 4: digit);
  // `partner[c]` is the other-case letter of c; `weights[c]` is the sort weight
  // of character c; `oemWeights[c]` that of OEM character c (derived from
  // `weights` through the OEM code page when null).  Any argument may be null
  // for the default.
  static CollationState FromTables(const uint8_t* caseClass, const uint8_t* partner, const uint8_t* weights,
                                   const uint8_t* oemWeights = nullptr);

  // The state of the running program, from the locale's case and collation
  // tables (values/locale.h; loading the locale on first use).
  static CollationState Current();

  // Reads a stored 1152-byte state.  Every byte pattern is a usable state.
  static CollationState FromBytes(const uint8_t* bytes);
  void ToBytes(uint8_t* out) const;

  bool IsLower(uint8_t c) const { return (bytes_[0x300 + c] & kClassLower) != 0; }
  uint8_t Upper(uint8_t c) const { return bytes_[0x200 + c]; }
  // The sort weight of a character given in the ANSI (or, with `oem`, the OEM)
  // character set.
  uint8_t Weight(uint8_t c, bool oem) const { return bytes_[(oem ? 0x100 : 0) + c]; }
  bool IdentityWeights() const { return bytes_[0x403] == 1; }

  // Replaces each lower-case letter of `text` by its upper-case form.
  void FoldCase(uint8_t* text, size_t n) const;
  // Replaces each character of `text` by its sort weight.
  void ApplyWeights(uint8_t* text, size_t n, bool oem) const;

  bool operator==(const CollationState& other) const { return bytes_ == other.bytes_; }

 private:
  struct Uninitialised {};
  explicit CollationState(Uninitialised) {}
  void Describe();
  std::array<uint8_t, kCollationStateSize> bytes_{};
};

}  // namespace pr::store
