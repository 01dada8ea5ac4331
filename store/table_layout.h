// What an open table derives from its definition: the prepared keys, the
// text fields that take part in the OEM conversion, and the checks that a
// definition (declared or read from a file) is one the table can work with.
#pragma once

#include <cstdint>
#include <vector>

#include "store/definition_stream.h"
#include "store/keys_encode.h"
#include "store/record_oem.h"

namespace pr::store {

// Highest number of keys: key indexes must stay below the data kind (0xF3).
inline constexpr size_t kMaxKeys = 240;
// Memo indexes are one byte.
inline constexpr size_t kMaxMemos = 255;
// Largest record image: a data record (9-byte key plus image) must fit a page
// of the largest class by itself, with the page header and the record's 5
// bytes of flags and lengths (15086 bytes of record, so 15077 of image).
inline constexpr size_t kMaxRecordImage = kMaxPageBytes - kPageHeaderSize - 5 - kDataKeyLength;

// Check index and override number of the key size check.
inline constexpr int kKeySizeCheck = 100;
inline constexpr int kKeySizeOverride = 230100;
inline constexpr const char* kKeySizeMessage = "Key components are more than a total of 7526 bytes long";

// A reason a definition cannot be used, as a group D structure check.
struct LayoutProblem {
  CheckCategory category = CheckCategory::kFile;
  int checkIndex = 0;
  const char* item = "";
  int itemNumber = 0;
  const char* message = nullptr;  // ready-made text, or null for the catalogue's
  int overrideNumber = 0;         // message override that replaces `message`
};

struct TableLayout {
  std::vector<KeyLayout> keys;
  TextFields textFields;
};

// True for the field types the driver stores.
bool IsSupportedFieldType(uint8_t type);

// Checks `definition` and prepares its layout.  On failure returns false and
// describes the first problem: an unsupported field type (FIELD 2 "TYPE"), a
// field outside the record or a record too long for a page (FIELD 4 "SIZE"),
// too many memos (MEMO/BLOB 2) or keys (KEY 2), a component naming no field
// (COMPONENT 0 "FIELD"), a key over 7526 bytes, or a DUP key over 7522 bytes
// since its entries carry the record number too (KEY 100 "SIZE").
bool PrepareLayout(const TableDefinition& definition, TableLayout* layout, LayoutProblem* problem);

}  // namespace pr::store
