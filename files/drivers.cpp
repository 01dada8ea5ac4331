#include "files/drivers.h"

#include <atomic>
#include <cctype>

#include "files/errors.h"

namespace pr::files {
namespace {

enum DriverIndex { kTarnwell = 0, kDos = 1, kAscii = 2, kDriverCount = 3 };

std::atomic<DriverEntry> g_registered[kDriverCount];

int32_t Forward(int index, int32_t op, FileDescriptor* file, intptr_t* args) {
  DriverEntry entry = g_registered[index].load(std::memory_order_acquire);
  if (entry != nullptr) return entry(op, file, args);
  ClearError();  // no file error texts of an earlier statement stay
  SetErrorCode(err::UnsupportedFunction);
  return 0;
}

int32_t TarnwellForwarder(int32_t op, FileDescriptor* file, intptr_t* args) {
  return Forward(kTarnwell, op, file, args);
}
int32_t DosForwarder(int32_t op, FileDescriptor* file, intptr_t* args) { return Forward(kDos, op, file, args); }
int32_t AsciiForwarder(int32_t op, FileDescriptor* file, intptr_t* args) {
  return Forward(kAscii, op, file, args);
}

// The keyed-file driver's limits: 4,194,304-byte records; the counts are
// checked by the driver itself.
const DriverRecord kDrivers[kDriverCount] = {
    {"TARNWELL", "V60TWLX.DLL", "", "Tarnwell (TWL)", &TarnwellForwarder, 0, 0, 0, 0, 4194304},
    {"DOS", "V60DOSX.DLL", "", "DOS (Binary)", &DosForwarder, 0, 0, 0, 0, 0},
    {"ASCII", "V60ASCX.DLL", "", "ASCII (Text)", &AsciiForwarder, 0, 0, 0, 0, 0},
};

bool SameName(std::string_view a, const char* b) {
  std::string_view bv(b);
  if (a.size() != bv.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(bv[i]))) {
      return false;
    }
  }
  return true;
}

int IndexOf(const DriverRecord* driver) {
  for (int i = 0; i < kDriverCount; ++i) {
    if (driver == &kDrivers[i]) return i;
  }
  return -1;
}

}  // namespace

const DriverRecord* DriverRecordFor(std::string_view name) {
  for (const DriverRecord& driver : kDrivers) {
    if (SameName(name, driver.name)) return &driver;
  }
  return nullptr;
}

bool RegisterDriverEntry(std::string_view name, DriverEntry entry) {
  int index = IndexOf(DriverRecordFor(name));
  if (index < 0) return false;
  g_registered[index].store(entry, std::memory_order_release);
  return true;
}

}  // namespace pr::files
