#include "files/structure_check.h"

#include <cstdio>
#include <iterator>
#include <mutex>
#include <string>

#include "files/errors.h"
#include "platform/kernel.h"

namespace pr::files {
namespace {

constexpr const char* kCategoryNames[] = {"SYSTEM", "FILE", "FIELD", "MEMO/BLOB", "KEY", "COMPONENT", "UNKNOWN"};

constexpr const char* kSystemMessages[] = {
    "Internal Error:  Property cannot be set",
    "Dynamic File Support Not Found",
};

// Group S: checks of the declaration itself.
constexpr const char* kFileMessagesS[] = {
    "No File Driver Specified",
    "File Driver could not be loaded",
    "The DLL is not a valid file driver",
    "File Driver not defined",
    "The record structure is greater than 4,194,304 bytes in size",
};
constexpr const char* kFieldMessagesS[] = {
    "Not a Valid Velmora Label",
    "Duplicate Label",
    "No Type Specified",
    "Type requires a size and no size specified",
    "The Group has more fields than has been defined",
    "More Decimal Places than specified size",
    "Size is too big",
    "Field Count not specified for a GROUP field",
    "Field must be over a field defined before the field",
    "The Group is greater than 4,194,304 bytes in size",
    "The Field is greater than 4,190,208 bytes in size",
    "Field is larger than the field that it is over",
    "Invalid Picture",
    "Field cannot be over a field inside another GROUP",
};
constexpr const char* kMemoMessagesS[] = {
    "Not a Valid Velmora Label",
    "Duplicate Label",
    "No Size Specified for a MEMO",
};
// The quotes around KEY are Windows-1250 single quotation marks.
constexpr const char* kKeyMessagesS[] = {
    "Not a Valid Velmora Label",
    "Duplicate Label",
    "Type set to \x91KEY\x92, but no fields specified",
    "Key is defined as PRIMARY and DUP",
};
constexpr const char* kComponentMessagesS[] = {
    "Component number is greater than the number of fields in the file structure",
    "Component is a dimmensioned field",
};

// Group D: checks against the driver and the physical file.
constexpr const char* kFileMessagesD[] = {
    "Component does not match physical file structure",
};
constexpr const char* kFieldMessagesD[] = {
    "Component does not match physical file structure",
    "No Name or Label Specified",
    "Data type not supported",
    "Number of dimensions is greater than that supported by the file driver",
    "Field is larger than the maximum supported by the file driver",
};
constexpr const char* kMemoMessagesD[] = {
    "Component does not match physical file structure",
    "No Name or Label Specified",
    "Too Many Memos defined",
    "Memo is larger than the maximum size supported by the file driver",
    "Driver does not support BLOBs",
    "Driver does not support MEMOs",
    "Driver does not support BINARY memos or blobs",
};
constexpr const char* kKeyMessagesD[] = {
    "Component does not match physical file structure",
    "No Name or Label Specified",
    "Too Many Keys defined",
};
constexpr const char* kComponentMessagesD[] = {
    "Component does not match physical file structure",
    "Driver does not support Descending Key Components",
    "Driver does not support mixed Ascending and Descending Key Components",
};

struct MessageList {
  const char* const* texts;
  int32_t count;
};

template <size_t N>
constexpr MessageList List(const char* const (&texts)[N]) {
  return {texts, static_cast<int32_t>(N)};
}

constexpr MessageList kMessagesS[] = {List(kSystemMessages), List(kFileMessagesS),  List(kFieldMessagesS),
                                      List(kMemoMessagesS),  List(kKeyMessagesS),   List(kComponentMessagesS)};
constexpr MessageList kMessagesD[] = {List(kSystemMessages), List(kFileMessagesD),  List(kFieldMessagesD),
                                      List(kMemoMessagesD),  List(kKeyMessagesD),   List(kComponentMessagesD)};

constexpr uint32_t kOverrideBaseS = 100000;
constexpr uint32_t kOverrideBaseD = 200000;
constexpr uint32_t kOverrideStep = 10000;

const char* DefaultItemName(int32_t category, int32_t index) {
  switch (category) {
    case CHECK_FIELD:
      switch (index) {
        case 1: return "LABEL";
        case 2: return "TYPE";
        case 3: return "DIM";
        case 4:
        case 5: return "SIZE";
      }
      break;
    case CHECK_MEMO:
      switch (index) {
        case 1: return "LABEL";
        case 2: return "MEMO/BLOB";
        case 3: return "SIZE";
        case 4:
        case 5: return "TYPE";
        case 6: return "BINARY";
      }
      break;
    case CHECK_KEY:
      switch (index) {
        case 1: return "LABEL";
        case 2: return "KEY";
      }
      break;
    case CHECK_COMPONENT:
      if (index == 1 || index == 2) return "ASCENDING";
      break;
  }
  return category <= CHECK_FILE ? "" : "UNKNOWN";
}

}  // namespace

int32_t StructureCheck(int32_t category, int32_t index, const char* itemName, int32_t itemNumber, char group,
                       const char* message) {
  const bool groupD = group == CHECK_GROUP_D;
  const char* unknown = "Unknown Error";
  std::string text;
  if (category < 0 || category > CHECK_UNKNOWN) {
    category = CHECK_SYSTEM;
    text = unknown;
  } else if (message != nullptr) {
    text = message;
  } else if (category == CHECK_UNKNOWN || index < 0 ||
             index >= (groupD ? kMessagesD : kMessagesS)[category].count) {
    text = unknown;
  } else {
    uint32_t number = (groupD ? kOverrideBaseD : kOverrideBaseS) + kOverrideStep * static_cast<uint32_t>(category) +
                      static_cast<uint32_t>(index) + 1;
    const char* override = FindMessageOverride(number);
    text = override != nullptr ? override : (groupD ? kMessagesD : kMessagesS)[category].texts[index];
  }
  if (itemName == nullptr) itemName = DefaultItemName(category, index);

  char code[kFileErrorCodeMax + 64];
  std::snprintf(code, sizeof code, "%s : %d : %s : %s%05d", kCategoryNames[category], itemNumber, itemName,
                groupD ? "D" : "S", index + 1);
  SetFileError(code, text.c_str());
  return err::InvalidRecordDeclaration;
}

// ---------------------------------------------------------------- dynamic files
namespace {

using ChangeFileService = int32_t (*)(FileDescriptor* file);
using ChangeDriverService = int32_t (*)(FileDescriptor* file, const DriverRecord* driver);

struct DynamicFileSupport {
  std::mutex lock;
  bool looked = false;
  ChangeFileService changeFile = nullptr;
  ChangeDriverService changeDriver = nullptr;
};

DynamicFileSupport& Support() {
  static DynamicFileSupport* support = new DynamicFileSupport;
  return *support;
}

bool FindServices(HMODULE module, DynamicFileSupport& support) {
  if (module == nullptr) return false;
  auto file = reinterpret_cast<ChangeFileService>(GetProcAddress(module, "_Vel$CHANGE_FILE"));
  auto driver = reinterpret_cast<ChangeDriverService>(GetProcAddress(module, "_Vel$CHANGE_DRIVER"));
  if (file == nullptr || driver == nullptr) return false;
  support.changeFile = file;
  support.changeDriver = driver;
  return true;
}

// Looks the services up once; true when both are at hand.
bool LoadSupport(DynamicFileSupport& support) {
  std::lock_guard<std::mutex> guard(support.lock);
  if (!support.looked) {
    support.looked = true;
    if (!FindServices(GetModuleHandleA(nullptr), support)) {
      HMODULE library = LoadLibraryA("V60dfx.dll");
      if (!FindServices(library, support) && library != nullptr) FreeLibrary(library);
    }
  }
  return support.changeFile != nullptr;
}

bool NotFound() {
  SetErrorCode(StructureCheck(CHECK_SYSTEM, 1, "Driver", 0, CHECK_GROUP_S));
  return false;
}

}  // namespace

bool ChangeFile(FileDescriptor* file) {
  DynamicFileSupport& support = Support();
  if (!LoadSupport(support)) return NotFound();
  return support.changeFile(file) != 0;
}

bool ChangeDriver(FileDescriptor* file, const DriverRecord* driver) {
  DynamicFileSupport& support = Support();
  if (!LoadSupport(support)) return NotFound();
  return support.changeDriver(file, driver) != 0;
}

}  // namespace pr::files
