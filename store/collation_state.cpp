#include "store/collation_state.h"

#include <cstring>

#include "platform/kernel.h"
#include "values/locale.h"

namespace pr::store {

namespace {

constexpr size_t kAnsiWeights = 0x000;
constexpr size_t kOemWeights = 0x100;
constexpr size_t kUpperMap = 0x200;
constexpr size_t kClasses = 0x300;
constexpr size_t kDescription = 0x400;

// Runtime case-table bits.
constexpr uint8_t kRuntimeUpper = 0x01;
constexpr uint8_t kRuntimeLower = 0x02;
constexpr uint8_t kRuntimeDigit = 0x04;

}  // namespace

CollationState::CollationState() {
  static const CollationState defaults = FromTables(nullptr, nullptr, nullptr);
  bytes_ = defaults.bytes_;
}

CollationState CollationState::FromTables(const uint8_t* caseClass, const uint8_t* partner, const uint8_t* weights,
                                          const uint8_t* oemWeights) {
  CollationState s{Uninitialised{}};
  auto& b = s.bytes_;
  for (int c = 0; c < 256; ++c) {
    uint8_t runtimeClass;
    uint8_t other;
    if (caseClass != nullptr && partner != nullptr) {
      runtimeClass = caseClass[c];
      other = partner[c];
    } else {
      runtimeClass = (c >= 'A' && c <= 'Z') ? kRuntimeUpper
                     : (c >= 'a' && c <= 'z') ? kRuntimeLower
                     : (c >= '0' && c <= '9') ? kRuntimeDigit
                                              : 0;
      other = (c >= 'A' && c <= 'Z') ? uint8_t(c + 32) : (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : uint8_t(c);
    }
    uint8_t cls = 0;
    if (runtimeClass & kRuntimeLower) cls |= kClassLower;
    if (runtimeClass & kRuntimeUpper) cls |= kClassUpper;
    if (runtimeClass == kRuntimeDigit) cls |= kClassDigit;
    // A lower-case letter without a partner keeps its own code.
    b[kClasses + c] = cls;
    b[kUpperMap + c] = (cls & kClassLower) && other != 0 ? other : uint8_t(c);
    b[kAnsiWeights + c] = weights != nullptr ? weights[c] : uint8_t(c);
  }
  if (oemWeights != nullptr) {
    std::memcpy(&b[kOemWeights], oemWeights, 256);
  } else {
    // The weight of an OEM character is that of its ANSI form.
    char oem[256];
    char ansi[256];
    for (int c = 0; c < 256; ++c) oem[c] = char(c);
    OemToCharBuffA(oem, ansi, 256);
    for (int c = 0; c < 256; ++c) b[kOemWeights + c] = b[kAnsiWeights + uint8_t(ansi[c])];
  }
  s.Describe();
  return s;
}

void CollationState::Describe() {
  bool identity = true;
  for (int c = 0; c < 256; ++c) identity = identity && bytes_[kAnsiWeights + c] == c;
  std::memset(&bytes_[kDescription], 0, kCollationStateSize - kDescription);
  bytes_[kDescription] = 'C';
  bytes_[kDescription + 1] = 'S';
  bytes_[kDescription + 2] = 1;
  bytes_[kDescription + 3] = identity ? 1 : 0;
}

CollationState CollationState::FromBytes(const uint8_t* bytes) {
  CollationState s{Uninitialised{}};
  std::memcpy(s.bytes_.data(), bytes, kCollationStateSize);
  // Trust only the weights themselves: the identity flag is recomputed so a
  // damaged description cannot make keys skip their weights.
  bool identity = true;
  for (int c = 0; c < 256; ++c) identity = identity && s.bytes_[kAnsiWeights + c] == c;
  s.bytes_[kDescription + 3] = identity ? 1 : 0;
  return s;
}

void CollationState::ToBytes(uint8_t* out) const { std::memcpy(out, bytes_.data(), kCollationStateSize); }

void CollationState::FoldCase(uint8_t* text, size_t n) const {
  for (size_t i = 0; i < n; ++i) {
    if (IsLower(text[i])) text[i] = Upper(text[i]);
  }
}

void CollationState::ApplyWeights(uint8_t* text, size_t n, bool oem) const {
  if (!oem && IdentityWeights()) return;
  const uint8_t* w = &bytes_[oem ? kOemWeights : kAnsiWeights];
  for (size_t i = 0; i < n; ++i) text[i] = w[text[i]];
}

}  // namespace pr::store

namespace pr::store {

CollationState CollationState::Current() {
  const values::CaseTables& t = values::Locale();
  return FromTables(t.charClass, t.partner, t.collation, t.collationOem);
}

}  // namespace pr::store
