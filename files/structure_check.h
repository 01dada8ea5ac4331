// The one routine through which drivers (and the dynamic-file support)
// report that a declared structure does not fit the driver or the physical
// file.
#pragma once

#include <cstdint>

#include "files/descriptors.h"

namespace pr::files {

enum CheckCategory : int32_t {
  CHECK_SYSTEM = 0,
  CHECK_FILE = 1,
  CHECK_FIELD = 2,
  CHECK_MEMO = 3,       // "MEMO/BLOB"
  CHECK_KEY = 4,
  CHECK_COMPONENT = 5,
  CHECK_UNKNOWN = 6,
};

// Group S checks the declaration itself; group D checks it against the
// driver and the physical file.
enum CheckGroup : char {
  CHECK_GROUP_S = 'S',
  CHECK_GROUP_D = 'D',
};

// Reports check `index` (from 0) of `category` for item `itemNumber` (field,
// memo or key number; key number * 1000 + component number for COMPONENT; 0
// for SYSTEM and FILE).  `itemName` null takes the category's default item
// name for the index.  `message` null takes the message override numbered
// base + index + 1 when one is defined, else the built-in text ("Unknown
// Error" for an index beyond the category's messages or a category above 6,
// which is then reported as SYSTEM).
//
// Stores "%s : %d : %s : %s%05d" (category, item number, item name, group
// letter, index + 1) as the file error code text and the message as the file
// error text of the calling thread's error state, and returns 47 ("Invalid
// Record Declaration"), which the caller sets as its error code
// (SetErrorCode(47) keeps the file error texts).
int32_t StructureCheck(int32_t category, int32_t index, const char* itemName, int32_t itemNumber,
                       char group, const char* message = nullptr);

// Dynamic-file support.  The two services are looked up once, under a lock,
// in the host's main module and then in "V60dfx.dll".  When they are missing
// the request fails with StructureCheck(SYSTEM, 1, "Driver", 0, S), error 47
// is set and false is returned; otherwise the service's answer is returned.
bool ChangeFile(FileDescriptor* file);
bool ChangeDriver(FileDescriptor* file, const DriverRecord* driver);

}  // namespace pr::files
