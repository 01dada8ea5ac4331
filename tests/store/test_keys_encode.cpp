// Key component encoding: byte order is key order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "store/keys_encode.h"

namespace pr::store {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kLong = 6, kReal = 9, kDecimal = 10, kString = 18, kCString = 19, kPString = 20;

KeyLayout OneComponent(uint8_t type, uint32_t size, bool descending = false, uint32_t attributes = 0) {
  KeyLayout k;
  k.attributes = attributes;
  k.Add({0, size, type, descending});
  return k;
}

bool Blank(const KeyLayout& k, const void* record) {
  return KeyIsBlank(k, static_cast<const uint8_t*>(record));
}

Bytes Encode(const KeyLayout& k, const void* record) {
  Bytes out(k.encodedLength);
  EncodeKeyComponents(k, CollationState(), static_cast<const uint8_t*>(record), out.data());
  return out;
}

template <typename T>
Bytes EncodeValue(uint8_t type, T value, bool descending = false) {
  return Encode(OneComponent(type, sizeof value, descending), &value);
}

TEST(KeyEncoding, LongIsBigEndianWithSignFlipped) {
  EXPECT_EQ(EncodeValue<int32_t>(kLong, -1), (Bytes{0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(EncodeValue<int32_t>(kLong, 1), (Bytes{0x80, 0x00, 0x00, 0x01}));
  EXPECT_EQ(EncodeValue<int32_t>(kLong, -1, true), (Bytes{0x80, 0x00, 0x00, 0x00}));
  EXPECT_EQ(EncodeValue<int32_t>(kLong, 1, true), (Bytes{0x7F, 0xFF, 0xFF, 0xFE}));
}

// Encodes each value and checks that byte order follows the given order.
template <typename T>
void ExpectOrdered(uint8_t type, const std::vector<T>& ascending, bool descending) {
  for (size_t i = 0; i + 1 < ascending.size(); ++i) {
    Bytes a = EncodeValue<T>(type, ascending[i], descending);
    Bytes b = EncodeValue<T>(type, ascending[i + 1], descending);
    if (descending) {
      EXPECT_GT(a, b) << ascending[i] << " vs " << ascending[i + 1];
    } else {
      EXPECT_LT(a, b) << ascending[i] << " vs " << ascending[i + 1];
    }
  }
}

TEST(KeyEncoding, NumbersSortInValueOrderBothWays) {
  for (bool descending : {false, true}) {
    ExpectOrdered<double>(kReal, {-1e300, -2.0, -1.0, -0.5, 0.0, 0.25, 1.0, 2.0, 1e300}, descending);
    ExpectOrdered<float>(8, {-3.5f, -1.0f, 0.0f, 1.0f, 7.25f}, descending);
    ExpectOrdered<int32_t>(kLong, {INT32_MIN, -70000, -1, 0, 1, 256, INT32_MAX}, descending);
    ExpectOrdered<int16_t>(2, {-32768, -2, 0, 3, 32767}, descending);
    ExpectOrdered<uint16_t>(3, {0, 1, 255, 256, 65535}, descending);
    ExpectOrdered<uint32_t>(7, {0, 255, 65536, 0xFFFFFFFFu}, descending);
  }
}

// DECIMAL(3,0) in two bytes: sign nibble, then digits.
TEST(KeyEncoding, DecimalSignInvertsDirection) {
  const uint8_t minusFive[2] = {0xF0, 0x05}, plusThree[2] = {0x00, 0x03}, minusThree[2] = {0xF0, 0x03};
  KeyLayout up = OneComponent(kDecimal, 2), down = OneComponent(kDecimal, 2, true);
  EXPECT_LT(Encode(up, minusFive), Encode(up, minusThree));
  EXPECT_LT(Encode(up, minusThree), Encode(up, plusThree));
  EXPECT_GT(Encode(down, minusFive), Encode(down, plusThree));
  EXPECT_GT(Encode(down, minusFive), Encode(down, minusThree));
  EXPECT_EQ(Encode(up, plusThree), (Bytes{0x80, 0x03}));
}

TEST(KeyEncoding, StringFamiliesFillAfterTheirText) {
  const char cs[6] = {'a', 'b', 0, 'x', 'y', 'z'};  // junk after the terminator is ignored
  EXPECT_EQ(Encode(OneComponent(kCString, 6), cs), (Bytes{'a', 'b', 0, 0, 0, 0}));
  const char ps[5] = {2, 'a', 'b', 'q', 'q'};
  EXPECT_EQ(Encode(OneComponent(kPString, 5), ps), (Bytes{'a', 'b', 0, 0, 0}));
  // A length byte claiming more than the field holds stays inside the field.
  const char bad[3] = {char(200), 'a', 'b'};
  EXPECT_EQ(Encode(OneComponent(kPString, 3), bad), (Bytes{'a', 'b', 0}));
  EXPECT_EQ(Encode(OneComponent(kString, 3, true), "ab "), (Bytes{0x9E, 0x9D, 0xDF}));
}

TEST(KeyEncoding, NoCaseFoldsOnlyLowerCaseLetters) {
  KeyLayout k = OneComponent(kString, 6, false, kKeyNoCase);
  EXPECT_EQ(Encode(k, "Abc12z"), Encode(k, "aBC12Z"));
  EXPECT_EQ(Encode(k, "abc12z"), (Bytes{'A', 'B', 'C', '1', '2', 'Z'}));
  KeyLayout exact = OneComponent(kString, 3);
  EXPECT_NE(Encode(exact, "abc"), Encode(exact, "ABC"));
}

TEST(KeyEncoding, CollationWeightsOrderStrings) {
  // A sequence that sorts 'b' before 'a'.
  uint8_t weights[256];
  for (int c = 0; c < 256; ++c) weights[c] = uint8_t(c);
  std::swap(weights[static_cast<unsigned char>('a')], weights[static_cast<unsigned char>('b')]);
  CollationState swapped = CollationState::FromTables(nullptr, nullptr, weights);
  KeyLayout k = OneComponent(kString, 1);
  Bytes a(1), b(1);
  EncodeKeyComponents(k, swapped, reinterpret_cast<const uint8_t*>("a"), a.data());
  EncodeKeyComponents(k, swapped, reinterpret_cast<const uint8_t*>("b"), b.data());
  EXPECT_GT(a, b);
  // A LONG is not a string: weights do not touch it.
  int32_t v = 'a';
  Bytes l(4);
  EncodeKeyComponents(OneComponent(kLong, 4), swapped, reinterpret_cast<const uint8_t*>(&v), l.data());
  EXPECT_EQ(l, (Bytes{0x80, 0, 0, 'a'}));
}

TEST(KeyEncoding, BlankRecordsForOptionalKeys) {
  EXPECT_TRUE(Blank(OneComponent(kCString, 4), "\0xyz"));
  EXPECT_FALSE(Blank(OneComponent(kCString, 4), "a\0yz"));
  EXPECT_TRUE(Blank(OneComponent(kString, 3), "   "));
  EXPECT_FALSE(Blank(OneComponent(kString, 3), "  x"));
  EXPECT_TRUE(Blank(OneComponent(kPString, 3), "\0ab"));
  int32_t zero = 0, one = 1;
  EXPECT_TRUE(Blank(OneComponent(kLong, 4), &zero));
  EXPECT_FALSE(Blank(OneComponent(kLong, 4), &one));
  // Every component must be blank.
  KeyLayout two;
  two.Add({0, 2, kString, false});
  two.Add({2, 2, kCString, false});
  EXPECT_TRUE(Blank(two, "  \0z"));
  EXPECT_FALSE(Blank(two, "  q\0"));
}

TEST(KeyEncoding, EntryCarriesRecordNumberOnlyForDup) {
  KeyLayout k = OneComponent(kString, 2);
  k.index = 3;
  const RecordNumber table = MakeRecordNumber(1), record = MakeRecordNumber(0x0102);
  uint8_t out[16];
  ASSERT_EQ(BuildKeyEntry(k, CollationState(), table, record, reinterpret_cast<const uint8_t*>("ab"), out), 7u);
  EXPECT_EQ(Bytes(out, out + 7), (Bytes{0, 0, 0, 1, 3, 'a', 'b'}));
  k.attributes = kKeyDup;
  ASSERT_EQ(k.entryKeyLength(), 11u);
  ASSERT_EQ(BuildKeyEntry(k, CollationState(), table, record, reinterpret_cast<const uint8_t*>("ab"), out), 11u);
  EXPECT_EQ(Bytes(out + 7, out + 11), (Bytes{0, 0, 1, 2}));
}

}  // namespace
}  // namespace pr::store
