// A table's definition as the file stores it, and the one walk that writes
// it, checks a declaration against it, or reads it back.
//
// The definition is one byte stream cut into 512-byte blocks (definition
// records, block k holding bytes 512k...); a missing block reads as zeros.
// Values: u8; u16 low byte first; string = bytes then a zero byte, with an
// empty string written as two zero bytes.  Content in order:
//
//   u16 version (1, or 2 with a BLOB)   u16 record length
//   u16 field count   u16 memo count   u16 key count
//   per field: u8 type, u16 offset, string name, u16 dim, u16 size, u16 over,
//              u16 extra; DECIMAL/PDECIMAL: u8 size, u8 places;
//              STRING/CSTRING/PSTRING: u16 declared length, string picture
//   per memo:  string external name, string label, u16 size, u16 flags
//   per key:   string external name, string label, u8 attributes,
//              u16 component count, per component u16 field index (from 0)
//              and u16 direction (0 ascending, 1 descending)
//
// The walk is pure: it reads blocks through a callback and never touches the
// file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pr::store {

// Field type codes the definition walk looks at.
inline constexpr uint8_t kTypeDecimal = 10;
inline constexpr uint8_t kTypePDecimal = 11;
inline constexpr uint8_t kTypeString = 18;
inline constexpr uint8_t kTypeCString = 19;
inline constexpr uint8_t kTypePString = 20;
inline constexpr uint8_t kTypeMemo = 21;
inline constexpr uint8_t kTypeGroup = 22;
inline constexpr uint8_t kTypeBlob = 27;

// Memo flags.
inline constexpr uint16_t kMemoBinary = 0x02;
inline constexpr uint16_t kMemoBlob = 0x04;

// Key attribute byte: DUP, OPT, NOCASE, PRIMARY (ignored by a compare).
inline constexpr uint8_t kStoredKeyPrimary = 0x10;

struct FieldDefinition {
  uint8_t type = 0;
  uint16_t offset = 0;
  std::string name;      // the label with its prefix, "PAR:ID"
  uint16_t dim = 0;      // product of the dimensions; 0 when not dimensioned
  uint16_t size = 0;     // bytes
  uint16_t over = 0;     // field number (from 1) overlaid, 0 when none
  uint16_t extra = 0;    // members of a GROUP, else 0
  uint8_t decimalSize = 0;    // DECIMAL and PDECIMAL
  uint8_t decimalPlaces = 0;  // DECIMAL and PDECIMAL
  uint16_t declaredLength = 0;  // STRING, CSTRING, PSTRING
  std::string picture;          // STRING, CSTRING, PSTRING; empty when none

  bool operator==(const FieldDefinition&) const = default;
};

struct MemoDefinition {
  std::string externalName;
  std::string label;
  uint16_t size = 0;
  uint16_t flags = 0;  // kMemoBinary, kMemoBlob
  bool blob() const { return (flags & kMemoBlob) != 0; }
  bool binary() const { return (flags & kMemoBinary) != 0; }
  bool operator==(const MemoDefinition&) const = default;
};

struct KeyComponentDefinition {
  uint16_t field = 0;      // field index, from 0
  uint16_t direction = 0;  // 0 ascending, 1 descending
  bool operator==(const KeyComponentDefinition&) const = default;
};

struct KeyDefinition {
  std::string externalName;
  std::string label;
  uint8_t attributes = 0;
  // Not part of the stream: INDEX keys are declared, never stored.
  bool inMemory = false;
  std::vector<KeyComponentDefinition> components;
  bool operator==(const KeyDefinition& o) const {
    return externalName == o.externalName && label == o.label && attributes == o.attributes &&
           components == o.components;
  }
};

struct TableDefinition {
  uint16_t version = 1;
  uint16_t recordLength = 0;
  std::vector<FieldDefinition> fields;
  std::vector<MemoDefinition> memos;
  std::vector<KeyDefinition> keys;

  // 2 when any memo is a BLOB, else 1.
  uint16_t RequiredVersion() const;
  bool operator==(const TableDefinition&) const = default;
};

// Structure-check categories.
enum class CheckCategory : int { kSystem = 0, kFile = 1, kField = 2, kMemo = 3, kKey = 4, kComponent = 5 };

// The first difference a compare found, to be reported as a group D
// structure check (error 47).
struct DefinitionMismatch {
  CheckCategory category = CheckCategory::kFile;
  int checkIndex = 0;   // 0: "Component does not match physical file structure"
  const char* item = "";  // "FIELDS", "TYPE", "ATTRIBUTE", ...
  int itemNumber = 0;
  bool operator==(const DefinitionMismatch& o) const {
    return category == o.category && checkIndex == o.checkIndex && std::string(item) == o.item &&
           itemNumber == o.itemNumber;
  }
};

// Check index of the newer-format check (item "VERSION"), with its message
// and message override number.
inline constexpr int kNewerFormatCheck = 101;
inline constexpr int kNewerFormatOverride = 210101;
inline constexpr const char* kNewerFormatMessage =
    "You are attempting to open a newer Tarnwell file format than the driver supports";

enum class WalkResult {
  kOk,
  kMismatch,  // compare (or read of a newer version): see the mismatch
  kCorrupt,   // the stored stream cannot be a definition
};

// Loads definition block `block` into `out` (512 bytes) and returns the bytes
// it holds, or 0 when there is no such block.  A negative result is a read
// failure, returned by the walk as kCorrupt.
using DefinitionBlockLoader = std::function<int(uint16_t block, uint8_t* out)>;

// Write mode: the stream of `definition` (version and record length as given).
std::vector<uint8_t> WriteDefinition(const TableDefinition& definition);

// Compare mode: checks `declared` against the stored stream.  With
// `decimalCheck` off the DECIMAL size and places are not compared.
WalkResult CompareDefinition(const TableDefinition& declared, const DefinitionBlockLoader& load, bool decimalCheck,
                             DefinitionMismatch* mismatch);

// Read mode: rebuilds the definition from the stored stream.  A version above
// 2 is kMismatch with the newer-format check.
WalkResult ReadDefinition(const DefinitionBlockLoader& load, TableDefinition* definition,
                          DefinitionMismatch* mismatch);

}  // namespace pr::store
