#include "files/os_files.h"

#include <ctime>
#include <string>

namespace pr::files {
namespace {

// Windows file attribute bits for the create attributes 1..3.
constexpr DWORD kAttributeReadOnly = 0x01;
constexpr DWORD kAttributeHidden = 0x02;
constexpr DWORD kAttributeSystem = 0x04;

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochOffset = 11644473600LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

// The name as the system's file functions take it.
std::string SystemName(const char* name) {
  std::string converted(name != nullptr ? name : "");
  if (!AreFileApisANSI() && !converted.empty()) {
    CharToOemBuffA(converted.data(), converted.data(), static_cast<DWORD>(converted.size()));
  }
  return converted;
}

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

int32_t MapOpenError(int32_t error, bool mapBadNetName) {
  switch (error) {
    case 32: return 5;    // sharing violation -> access denied
    case 161: return 3;   // bad path name -> path not found
    case 67:              // network name not found -> path not found
      return mapBadNetName ? 3 : error;
    case 123: return 45;  // invalid name -> Invalid Filename
    default: return error;
  }
}

DWORD ShareFlags(uint32_t mode) {
  switch ((mode >> 4) & 7) {
    case 1: return 0;                                   // deny all
    case 2: return FILE_SHARE_READ;                     // deny write
    case 3: return FILE_SHARE_WRITE;                    // deny read
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE;  // deny none
  }
}

DWORD AccessFlags(uint32_t mode) {
  switch (mode & 3) {
    case 1: return GENERIC_WRITE;
    case 2: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;  // 0 and 3
  }
}

}  // namespace

int32_t OsOpen(const char* name, uint32_t mode, HANDLE* handle) {
  SetLastError(0);
  *handle = INVALID_HANDLE_VALUE;
  std::string systemName = SystemName(name);
  HANDLE h = CreateFileA(systemName.c_str(), AccessFlags(mode), ShareFlags(mode), nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return MapOpenError(LastError(), true);
  *handle = h;
  return 0;
}

int32_t OsCreate(const char* name, uint32_t attributes, HANDLE* handle) {
  SetLastError(0);
  *handle = INVALID_HANDLE_VALUE;
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (attributes & 3) {
    case 1:
      access = GENERIC_READ;
      flags = kAttributeReadOnly;
      break;
    case 2: flags = kAttributeHidden; break;
    case 3: flags = kAttributeSystem; break;
    default: break;
  }
  std::string systemName = SystemName(name);
  HANDLE h = CreateFileA(systemName.c_str(), access, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return MapOpenError(LastError(), false);
  *handle = h;
  return 0;
}

int32_t OsRead(HANDLE handle, void* buffer, uint32_t length, uint32_t* done) {
  SetLastError(0);
  DWORD count = 0;
  BOOL ok = ReadFile(handle, buffer, length, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok ? 0 : LastError();
}

int32_t OsWrite(HANDLE handle, const void* buffer, uint32_t length, uint32_t* done) {
  SetLastError(0);
  DWORD count = 0;
  BOOL ok = WriteFile(handle, buffer, length, &count, nullptr);
  if (done != nullptr) *done = count;
  return ok ? 0 : LastError();
}

int32_t OsSeek(HANDLE handle, int64_t offset, uint32_t origin, int64_t* position) {
  SetLastError(0);
  LONGLONG at = 0;
  if (!SetFilePointerEx(handle, offset, &at, origin)) return LastError();
  if (position != nullptr) *position = at;
  return 0;
}

int32_t OsTell(HANDLE handle, int64_t* position) { return OsSeek(handle, 0, FILE_CURRENT, position); }

int32_t OsSize(HANDLE handle, int64_t* size) {
  SetLastError(0);
  LONGLONG length = 0;
  if (!GetFileSizeEx(handle, &length)) return LastError();
  *size = length;
  return 0;
}

int32_t OsTruncate(HANDLE handle) {
  SetLastError(0);
  return SetEndOfFile(handle) ? 0 : LastError();
}

int32_t OsFlush(HANDLE handle) {
  SetLastError(0);
  return FlushFileBuffers(handle) ? 0 : LastError();
}

int32_t OsClose(HANDLE handle) {
  SetLastError(0);
  return CloseHandle(handle) ? 0 : LastError();
}

int32_t OsLock(HANDLE handle, uint32_t offset, uint32_t length) {
  SetLastError(0);
  return LockFile(handle, offset, 0, length, 0) ? 0 : LastError();
}

int32_t OsUnlock(HANDLE handle, uint32_t offset, uint32_t length) {
  SetLastError(0);
  return UnlockFile(handle, offset, 0, length, 0) ? 0 : LastError();
}

int32_t OsDelete(const char* name) {
  SetLastError(0);
  std::string systemName = SystemName(name);
  return DeleteFileA(systemName.c_str()) ? 0 : LastError();
}

int32_t OsRename(const char* oldName, const char* newName) {
  SetLastError(0);
  std::string from = SystemName(oldName);
  std::string to = SystemName(newName);
  return MoveFileA(from.c_str(), to.c_str()) ? 0 : LastError();
}

int32_t OsExists(const char* name) {
  SetLastError(0);
  std::string systemName = SystemName(name);
  if (GetFileAttributesA(systemName.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  int32_t error = LastError();
  return error != 0 ? error : 2;
}

int32_t OsGetTime(HANDLE handle, uint16_t* date, uint16_t* time) {
  SetLastError(0);
  FILETIME written{};
  if (!GetFileTime(handle, nullptr, nullptr, &written)) return LastError();
  int64_t units = (static_cast<int64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  std::time_t seconds = static_cast<std::time_t>(units / kFileTimeUnitsPerSecond - kFileTimeEpochOffset);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 87;  // ERROR_INVALID_PARAMETER
  int year = local.tm_year + 1900 - 1980;
  if (year < 0) year = 0;
  if (year > 127) year = 127;
  *date = static_cast<uint16_t>((year << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return 0;
}

int32_t OsSetTime(HANDLE handle, uint16_t date, uint16_t time) {
  SetLastError(0);
  std::tm local{};
  local.tm_year = ((date >> 9) & 0x7F) + 1980 - 1900;
  local.tm_mon = ((date >> 5) & 0x0F) - 1;
  local.tm_mday = date & 0x1F;
  local.tm_hour = (time >> 11) & 0x1F;
  local.tm_min = (time >> 5) & 0x3F;
  local.tm_sec = (time & 0x1F) * 2;
  local.tm_isdst = -1;
  if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 || local.tm_min > 59 ||
      local.tm_sec > 59) {
    return 87;  // ERROR_INVALID_PARAMETER
  }
  std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) return 87;
  int64_t units = (static_cast<int64_t>(seconds) + kFileTimeEpochOffset) * kFileTimeUnitsPerSecond;
  FILETIME written{static_cast<DWORD>(units & 0xFFFFFFFF), static_cast<DWORD>(units >> 32)};
  return SetFileTime(handle, nullptr, nullptr, &written) ? 0 : LastError();
}

}  // namespace pr::files
