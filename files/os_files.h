// The operating-system file layer that drivers use for all file work.  Each
// routine clears the OS last-error value first and returns 0 or an error
// number (the Windows error number, after the mappings noted below), which a
// driver may hand to SetErrorCode.
//
// Names are converted to the OEM code page when the system's file functions
// are not in ANSI mode.  Thread safety: as the platform's file functions (a
// handle may be used by one thread at a time).
#pragma once

#include <cstdint>

#include "platform/kernel.h"

namespace pr::files {

// Opens an existing file.  `mode`: bits 0-1 access (0 and 3 read, 1 write,
// 2 read and write), bits 4-6 sharing as for OPEN (0x00, 0x40 deny none,
// 0x10 deny all, 0x20 deny write, 0x30 deny read).  Failures: OS error 32
// (sharing violation) becomes 5, 161 and 67 become 3, 123 becomes 45.
int32_t OsOpen(const char* name, uint32_t mode, HANDLE* handle);

// Creates (or truncates) a file for reading and writing with no sharing.
// `attributes` bits 0-1: 0 normal, 1 read-only (opened for reading only),
// 2 hidden, 3 system.  Failures map as for OsOpen, without the 67 rule.
int32_t OsCreate(const char* name, uint32_t attributes, HANDLE* handle);

// One call each; a short count is the caller's to judge.
int32_t OsRead(HANDLE handle, void* buffer, uint32_t length, uint32_t* done);
int32_t OsWrite(HANDLE handle, const void* buffer, uint32_t length, uint32_t* done);
// `origin`: FILE_BEGIN, FILE_CURRENT, FILE_END.  `position` may be null.
int32_t OsSeek(HANDLE handle, int64_t offset, uint32_t origin, int64_t* position);
int32_t OsTell(HANDLE handle, int64_t* position);
int32_t OsSize(HANDLE handle, int64_t* size);
// Cuts the file at the handle's current position.
int32_t OsTruncate(HANDLE handle);
int32_t OsFlush(HANDLE handle);
int32_t OsClose(HANDLE handle);

// Byte-range lock and unlock, 32-bit offset and length.
int32_t OsLock(HANDLE handle, uint32_t offset, uint32_t length);
int32_t OsUnlock(HANDLE handle, uint32_t offset, uint32_t length);

int32_t OsDelete(const char* name);
int32_t OsRename(const char* oldName, const char* newName);
// 0 when the file exists, otherwise the error (2 when it is missing).
int32_t OsExists(const char* name);

// The file's last-write time as DOS date and time words, in local time.
// Date: bits 9-15 year - 1980, 5-8 month, 0-4 day; time: bits 11-15 hours,
// 5-10 minutes, 0-4 seconds / 2.
int32_t OsGetTime(HANDLE handle, uint16_t* date, uint16_t* time);
int32_t OsSetTime(HANDLE handle, uint16_t date, uint16_t time);

}  // namespace pr::files
