// The kinds of record a table keeps in its file's single page tree, and the
// 4-byte numbers that name tables and records.
//
// Every record of a table begins with the table number; the byte after it
// decides the record's kind and so its place among the table's records:
//
//   key part                                             len     data part
//   FE  name...                                          n+1     table number
//   T4  key index  components...  [record number]        5+c(+4) record number
//   T4  F3  R4                                           9       record image
//   T4  F6  subject                                      6       u32 count, u32 second (LE)
//   T4  FA  block (u16 LE)                               7       up to 512 definition bytes
//   T4  FB  01                                           6       OEM flag + 1152-byte collation state
//   T4  FC  R4  memo index  piece (u16 BE)               12      [u32 total LE] content
//
// T4 and R4 are big-endian numbers issued from the header's last record
// number, so byte order is numeric order.  Within a table: key entries (key
// index 0, 1, ...), data, counters, definition, collation, memo pieces; the
// table-name records (FE) sort after every table since no number starts FE.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store/container_format.h"  // kMaxRecordLength

namespace pr::store {

// A table or record number in its stored big-endian form.
using RecordNumber = std::array<uint8_t, 4>;

inline constexpr uint8_t kKindTableName = 0xFE;
inline constexpr uint8_t kKindData = 0xF3;
inline constexpr uint8_t kKindCounters = 0xF6;
inline constexpr uint8_t kKindDefinition = 0xFA;
inline constexpr uint8_t kKindCollation = 0xFB;
inline constexpr uint8_t kKindMemo = 0xFC;

inline constexpr size_t kDataKeyLength = 9;
inline constexpr size_t kCountersKeyLength = 6;
inline constexpr size_t kDefinitionKeyLength = 7;
inline constexpr size_t kCollationKeyLength = 6;
inline constexpr size_t kMemoKeyLength = 12;
inline constexpr size_t kCountersDataLength = 8;
inline constexpr size_t kDefinitionBlockSize = 512;

// Key entries may not encode more than this many component bytes.
inline constexpr size_t kMaxKeyComponentBytes = 7526;
// Content capacity of one memo or blob piece.
inline constexpr size_t kMemoPieceCapacity = 256;
inline constexpr size_t kBlobPieceCapacity = 10240;

inline uint32_t RecordNumberValue(const RecordNumber& number) {
  return uint32_t{number[0]} << 24 | uint32_t{number[1]} << 16 | uint32_t{number[2]} << 8 | number[3];
}

inline RecordNumber MakeRecordNumber(uint32_t value) {
  return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
}

inline void PutU32LE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline uint32_t GetU32LE(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Builders of the key parts above.  Each writes into `out` (which must hold
// the stated length) and returns the key length.
inline size_t DataKey(const RecordNumber& table, const RecordNumber& record, uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = kKindData;
  std::memcpy(out + 5, record.data(), 4);
  return kDataKeyLength;
}

inline size_t CountersKey(const RecordNumber& table, uint8_t subject, uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = kKindCounters;
  out[5] = subject;
  return kCountersKeyLength;
}

inline size_t DefinitionKey(const RecordNumber& table, uint16_t block, uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = kKindDefinition;
  out[5] = uint8_t(block);
  out[6] = uint8_t(block >> 8);
  return kDefinitionKeyLength;
}

inline size_t CollationKey(const RecordNumber& table, uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = kKindCollation;
  out[5] = 0x01;
  return kCollationKeyLength;
}

inline size_t MemoKey(const RecordNumber& table, const RecordNumber& record, uint8_t memoIndex, uint16_t piece,
                      uint8_t* out) {
  std::memcpy(out, table.data(), 4);
  out[4] = kKindMemo;
  std::memcpy(out + 5, record.data(), 4);
  out[9] = memoIndex;
  out[10] = uint8_t(piece >> 8);
  out[11] = uint8_t(piece);
  return kMemoKeyLength;
}

}  // namespace pr::store
