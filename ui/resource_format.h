// The compiled window resource format: record type codes, fixed record
// lengths and the byte positions of every field the runtime reads.  Both the
// resource compiler (tools/rc) and the decoder (ui/resource_decoder) take
// their positions from here, so the writer and the reader cannot drift apart.
//
// A resource of type "VODEDAV" is laid out as
//
//   position 0      the module-qualified name ("PR_DLL$PR_DL004"), NUL-terminated, L+1 bytes
//   position L+1    u32 relative offset of the first window record
//   position L+5    strings, descriptors and records, each record preceded by
//                   the strings and descriptors it refers to
//
// Relative offset R names file position (L + 1 - 2) + R: the decoder copies
// everything after the name's NUL to position 2 of a buffer whose first two
// bytes are zero, so relative offsets index that buffer directly, and offset 0
// (absent) reads as the empty text.  All integers are little-endian.
#pragma once

#include <cstdint>

namespace pr::ui::rsc {

inline constexpr char kResourceType[] = "VODEDAV";
inline constexpr uint16_t kResourceLanguage = 1033;
inline constexpr char kResourceSuffix[] = "_RSC";
// Relative offset of the window-list head inside the decoded buffer.
inline constexpr uint32_t kListHead = 2;
// Position and size value meaning "not given".
inline constexpr uint32_t kNotGiven = 0x80000000u;

enum RecordType : uint8_t {
  kStringVar = 1,
  kString = 2,
  kImage = 3,
  kEntry = 8,
  kButton = 9,
  kPrompt = 10,
  kOption = 11,
  kCheck = 12,
  kGroup = 13,
  kList = 14,
  kCombo = 15,
  kSpin = 16,
  kText = 17,
  kMenu = 19,
  kItem = 20,
  kRadio = 21,
  kWindow = 25,
  kReport = 26,
  kProgress = 35,
  kSheet = 37,
  kTab = 38,
  kPanel = 39,
};

// Fixed length of a record type including its type byte; 0 when the layout
// is not fixed (only the common head is read from such records).
constexpr uint32_t RecordLength(uint8_t type) {
  switch (type) {
    case kString: return 64;
    case kEntry: return 84;
    case kButton: return 96;
    case kPrompt: return 64;
    case kCheck: return 98;
    case kList: return 114;
    case kSpin: return 116;
    case kText: return 88;
    case kWindow: return 117;
    case kProgress: return 66;
    case kPanel: return 56;
    default: return 0;
  }
}

// Types whose record holds a variable descriptor at position 21, which moves
// their position fields 4 bytes later than in PROMPT and BUTTON.
constexpr bool BindsVariable(uint8_t type) {
  return type == kStringVar || type == kEntry || type == kCheck || type == kList || type == kSpin ||
         type == kText;
}

// ------------------------------------------------------------ window record
namespace window {
inline constexpr uint32_t kType = 0, kNext = 1, kAttr = 5, kAttr2 = 9, kX = 13, kY = 17, kWidth = 21,
                          kHeight = 25, kFirstControl = 29, kLabel = 33, kFont = 37, kTitle = 41,
                          kText1 = 58, kText2 = 62, kText3 = 70, kTextList = 78, kOptions = 82,
                          kText4 = 102, kKeyCode = 110, kKeyText = 111;
}

// ------------------------------------------------------------ font descriptor (16 bytes + face name)
namespace font {
inline constexpr uint32_t kFace = 0, kPoints = 4, kColour = 8, kWeight = 12, kLength = 16;
inline constexpr uint32_t kDefault = 0xFFFFFFFFu;
}

// ------------------------------------------------------------ variable descriptor (9 bytes)
namespace var {
inline constexpr uint32_t kTypeCode = 0, kSize = 1, kReserved = 5, kLength = 9;
inline constexpr uint8_t kByte = 1, kLong = 6, kString = 18, kQueue = 26;
}

// ------------------------------------------------------------ text list node (8 bytes)
namespace textnode {
inline constexpr uint32_t kText = 0, kNext = 4, kLength = 8;
}

// ------------------------------------------------------------ control head (all control records)
namespace head {
inline constexpr uint32_t kType = 0, kNext = 1, kAttr = 5, kAttr2 = 9, kFeq = 13, kLabel = 17, kLength = 21;
// Position of the variable descriptor in the types that bind one.
inline constexpr uint32_t kUse = 21;
}

// Position fields: X at kPlain (PROMPT, BUTTON, STRING, PANEL, PROGRESS) or
// kBound (types that bind a variable); LIST has its FORMAT first.
inline constexpr uint32_t kPlainX = 21, kBoundX = 25, kListX = 29;

namespace prompt {  // also STRING with constant text (type 2)
inline constexpr uint32_t kDesc = 37, kText = 41;
}
namespace entry {
inline constexpr uint32_t kPicture = 73, kIndent = 77;
}
namespace button {
inline constexpr uint32_t kDesc = 37, kDesc2 = 41, kText = 69, kIcon = 73, kAction = 86, kOptions = 90,
                          kTime1 = 92, kTime2 = 94;
inline constexpr uint8_t kDefaultButton = 0x01;
}
namespace list {
inline constexpr uint32_t kFormat = 25, kDesc = 45, kSetup = 78, kFrom = 84, kOptions = 88, kMode = 100,
                          kBarColour = 105, kText = 110;
}
// The layouts below are this runtime's own (the format fixes only the length).
namespace text {  // TEXT (17), CHECK (12), SPIN (16): descriptive text after the position fields
inline constexpr uint32_t kDesc = 41, kDesc2 = 45, kCaption = 49;
}
namespace spin {
inline constexpr uint32_t kPicture = 73, kIndent = 77, kLow = 85, kHigh = 89, kStep = 93;
}
namespace panel {  // PANEL (39) and PROGRESS (35)
inline constexpr uint32_t kDesc = 37, kText = 41;
}

// Justification bits of a control's attribute word.
inline constexpr uint32_t kJustifyMask = 0x1C;
enum Justify : uint32_t { kJustifyLeft = 0x04, kJustifyRight = 0x08, kJustifyDecimal = 0x0C, kJustifyCentre = 0x10 };

}  // namespace pr::ui::rsc
