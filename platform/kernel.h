// Kernel services with the names and behaviour of the Windows interfaces the
// module was designed against, implemented on POSIX.  Everything above
// platform/ reaches files, locks, thread-local storage, modules, resources,
// profile strings and code pages only through this header (the window system
// has platform/winuser.h).
//
// Failures follow the Windows convention: the call returns FALSE (or
// INVALID_HANDLE_VALUE, or 0) and the reason is left for GetLastError() of the
// calling thread as a Windows error number (ERROR_*).  Nothing here throws.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = unsigned int;
using BOOL = int;
using LONGLONG = int64_t;
using HANDLE = void*;
using LPVOID = void*;
using HMODULE = struct PrModule*;
using HRSRC = struct PrResource*;
using HGLOBAL = const void*;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// ---------------------------------------------------------------- errors
enum : DWORD {
  ERROR_SUCCESS = 0,
  ERROR_INVALID_FUNCTION = 1,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_INVALID_DRIVE = 15,
  ERROR_NOT_SAME_DEVICE = 17,
  ERROR_WRITE_PROTECT = 19,
  ERROR_NOT_READY = 21,
  ERROR_SEEK = 25,
  ERROR_WRITE_FAULT = 29,
  ERROR_READ_FAULT = 30,
  ERROR_GEN_FAILURE = 31,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_LOCK_VIOLATION = 33,
  ERROR_HANDLE_EOF = 38,
  ERROR_HANDLE_DISK_FULL = 39,
  ERROR_NOT_SUPPORTED = 50,
  ERROR_BAD_NETPATH = 53,
  ERROR_DEV_NOT_EXIST = 55,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_BROKEN_PIPE = 109,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_INVALID_NAME = 123,
  ERROR_MOD_NOT_FOUND = 126,
  ERROR_PROC_NOT_FOUND = 127,
  ERROR_NEGATIVE_SEEK = 131,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_NOT_LOCKED = 158,
  ERROR_BAD_PATHNAME = 161,
  ERROR_BUSY = 170,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_FILE_TOO_LARGE = 223,
  ERROR_OPERATION_ABORTED = 995,
  ERROR_NOACCESS = 998,
  ERROR_FILE_INVALID = 1006,
  ERROR_RESOURCE_DATA_NOT_FOUND = 1812,
  ERROR_RESOURCE_TYPE_NOT_FOUND = 1813,
  ERROR_RESOURCE_NAME_NOT_FOUND = 1814,
  ERROR_RESOURCE_LANG_NOT_FOUND = 1815,
  ERROR_CANT_RESOLVE_FILENAME = 1921,
};

DWORD GetLastError();
void SetLastError(DWORD code);
// The one table that turns an errno value into a Windows error number.
DWORD ErrorFromErrno(int errnoValue);

// ---------------------------------------------------------------- files
enum : DWORD {
  GENERIC_READ = 0x80000000u,
  GENERIC_WRITE = 0x40000000u,
  FILE_SHARE_READ = 0x1,
  FILE_SHARE_WRITE = 0x2,
  FILE_SHARE_DELETE = 0x4,
  CREATE_NEW = 1,
  CREATE_ALWAYS = 2,
  OPEN_EXISTING = 3,
  OPEN_ALWAYS = 4,
  TRUNCATE_EXISTING = 5,
  FILE_ATTRIBUTE_READONLY = 0x1,
  FILE_ATTRIBUTE_NORMAL = 0x80,
  FILE_FLAG_WRITE_THROUGH = 0x80000000u,  // O_DSYNC
  FILE_FLAG_RANDOM_ACCESS = 0x10000000u,  // a read-ahead hint only
  FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u,
  FILE_BEGIN = 0,
  FILE_CURRENT = 1,
  FILE_END = 2,
  INVALID_SET_FILE_POINTER = 0xFFFFFFFFu,
  INVALID_FILE_SIZE = 0xFFFFFFFFu,
};

// Only the offset members are used: a ReadFile or WriteFile given an
// OVERLAPPED reads or writes at that offset (synchronously, like pread and
// pwrite) and leaves the handle's file pointer alone; InternalHigh receives the
// count.  A read at or past the end answers TRUE with fewer bytes (0 at the
// end).  A write writes everything or fails (ERROR_DISK_FULL when the device
// takes no more) and reports how much it wrote before failing.  Reads and
// writes on a handle opened without the matching access fail with
// ERROR_ACCESS_DENIED.
struct OVERLAPPED {
  uintptr_t Internal = 0;
  uintptr_t InternalHigh = 0;
  DWORD Offset = 0;
  DWORD OffsetHigh = 0;
  HANDLE hEvent = nullptr;
};

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Share modes hold between processes as on Windows: an open whose access
// conflicts with the share mode of an existing open of the same file (or whose
// share mode denies the access of an existing open) fails with
// ERROR_SHARING_VIOLATION.  Opens that ask for neither read nor write access
// take part in neither side of the check.  An open without FILE_SHARE_DELETE
// makes DeleteFileA and MoveFileA of the file fail with the same error.
// CREATE_ALWAYS and TRUNCATE_EXISTING cut the file only after the share check
// passed.  After a successful open GetLastError() is ERROR_ALREADY_EXISTS when
// CREATE_ALWAYS or OPEN_ALWAYS found the file there, else ERROR_SUCCESS.  Names
// may use backslashes; a name that does not exist as written is matched
// without regard to case within its folder.  A folder is refused with
// ERROR_ACCESS_DENIED; a missing folder on the way is ERROR_PATH_NOT_FOUND.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, OVERLAPPED* overlapped);
// Returns the low 32 bits of the new position; *distanceHigh (if given) holds
// the high part on entry and receives it on return.
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* newPosition, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);  // fdatasync
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(const char* fileName);
BOOL MoveFileA(const char* existingName, const char* newName);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh);
BOOL GetFileSizeEx(HANDLE file, LONGLONG* size);
DWORD GetFileAttributesA(const char* fileName);  // INVALID_FILE_ATTRIBUTES when missing
enum : DWORD { INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu, FILE_ATTRIBUTE_DIRECTORY = 0x10 };
// The descriptor behind a handle, for a shared mapping of a file's first page.
int FileDescriptorOf(HANDLE file);

// File mappings, read-only: the reader's way to the bytes of a file without a
// system call per read.  CreateFileMappingA takes PAGE_READONLY and a size of
// 0 (the file's current length; an empty file cannot be mapped:
// ERROR_FILE_INVALID); the mapping keeps its own reference to the file, so
// the file handle may be closed first.  It is refused (ERROR_NOT_SUPPORTED)
// while a test has replaced the pread entry of the system-call table, so that
// injected read faults stay in force.  MapViewOfFile takes FILE_MAP_READ and
// maps `bytes` from a 4096-aligned offset (0 bytes: to the mapping's end);
// the view shows later writes of any process at once.  A view stays valid
// until UnmapViewOfFile, also after its mapping handle is closed.
// Bytes of a view must be read with CopyFromView: when the file was cut
// shorter than the view after it was mapped, the copy answers FALSE with
// ERROR_HANDLE_EOF instead of the program dying of the bus error (what a
// Windows program catches as EXCEPTION_IN_PAGE_ERROR).
enum : DWORD { PAGE_READONLY = 0x02, FILE_MAP_READ = 0x04 };
HANDLE CreateFileMappingA(HANDLE file, void* securityAttributes, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, const char* name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow, size_t bytes);
BOOL UnmapViewOfFile(const void* base);
// The length of the view that starts at base (0 when base is not a view).
size_t ViewSize(const void* base);
BOOL CopyFromView(void* destination, const void* source, size_t length);
// Runs body(context) under the same guard: FALSE with ERROR_HANDLE_EOF when
// it met the part of a view that a file cut short no longer backs, else
// TRUE.  The bus error leaves the body where it stands, so the body must not
// allocate, take a lock, throw, hold anything with a destructor or use the
// guard itself.
BOOL CallWithViewGuard(void (*body)(void* context), void* context);

// Byte-range locks, exclusive, on 64-bit offsets.  They are open-file-
// description locks: two handles of one process conflict like two handles on
// Windows, and closing a handle frees only that handle's locks.  A refused lock
// fails at once with ERROR_LOCK_VIOLATION, also when the range overlaps a lock
// the same handle holds.  UnlockFile takes only a range exactly as it was
// locked (else ERROR_NOT_LOCKED).  A lock of 0 bytes succeeds and locks
// nothing.  Ranges must end below 2^62 (ERROR_INVALID_PARAMETER): the bytes
// from there up keep the share-mode records.  A child made by fork() shares
// its parent's handles and with them their locks: a child opens its own.
BOOL LockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh);
BOOL UnlockFile(HANDLE file, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh);

// The system calls under the real file system's reads, writes, syncs and
// truncations.  The seam for tests is the file system of
// platform/file_system.h, which covers every file call (opens, locks and
// mappings too); this table stays for tests that replace one of these four
// (a failing or short write, a crash after the k-th write or flush).  Reset
// puts the real calls back.
struct FileSyscalls {
  long (*pread)(int fd, void* buf, size_t n, int64_t offset);
  long (*pwrite)(int fd, const void* buf, size_t n, int64_t offset);
  int (*fdatasync)(int fd);
  int (*ftruncate)(int fd, int64_t length);
};
FileSyscalls& PlatformFileSyscalls();
void ResetPlatformFileSyscalls();

// ---------------------------------------------------------------- threads, time
DWORD TlsAlloc();
enum : DWORD { TLS_OUT_OF_INDEXES = 0xFFFFFFFFu };
LPVOID TlsGetValue(DWORD index);
BOOL TlsSetValue(DWORD index, LPVOID value);
BOOL TlsFree(DWORD index);

// A recursive lock, as on Windows.
struct CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();  // milliseconds, monotonic
// Hundredths of a second from a monotonic clock (wraps at 2^32).
DWORD GetClockHundredths();
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
void GetLocalTime(SYSTEMTIME* time);

// Ends the process with the given code after flushing standard streams (the
// runtime's end-of-program steps run through atexit handlers).
[[noreturn]] void ExitProcess(UINT exitCode);

// ---------------------------------------------------------------- modules and resources
// Every module (the host executable, PR_DLL, a test program) registers its
// resources and string table when it is loaded.  A module handle stands for a
// loaded shared object (or the main program).
HMODULE GetModuleHandleA(const char* moduleName);  // nullptr: the main program
// The module that contains the given address (its shared object, or the main
// program for addresses in the executable).
HMODULE ModuleFromAddress(const void* address);
// The module's file (nullptr: the main program, /proc/self/exe) in
// Windows-1250.  As on Windows, a name that does not fit is cut and
// NUL-terminated, and the answer is `size` with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
// Looks for NAME, NAME.so beside the main program, in the current directory,
// then through the dynamic loader's search; a Windows name "X.dll" stands for
// "X.so", and a name with a folder is looked for there only.  Each successful
// call holds the module loaded until its matching FreeLibrary.  nullptr with
// ERROR_MOD_NOT_FOUND when nothing loads.
HMODULE LoadLibraryA(const char* fileName);
BOOL FreeLibrary(HMODULE module);
// "NAME@VER" resolves the symbol NAME of version node VER.  A thread-local
// export resolves to the calling thread's copy.  nullptr with
// ERROR_PROC_NOT_FOUND when the module has no such export.
FARPROC GetProcAddress(HMODULE module, const char* procName);
void* GetProcAddressData(HMODULE module, const char* symbolName);  // data exports

// Resource registry.  Names and types are matched without regard to case; a
// number given as a pointer below 0x10000 (MAKEINTRESOURCE) equals its "#n"
// spelling.  A null module means the main program.  Registered bytes and
// texts are copied; registering the same type, name and language again
// replaces the entry.  FindResourceExA takes the language asked for, else the
// neutral one (ERROR_RESOURCE_TYPE_/NAME_/LANG_NOT_FOUND as fits);
// FindResourceA takes the neutral one, else the first registered.  Pointers
// handed out stay valid until the module's entries are replaced or
// unregistered.  All of it is safe to call from any thread.
enum : WORD { LANG_NEUTRAL_DEFAULT = 0, LANG_EN_US = 1033 };
void RegisterResource(HMODULE module, const char* type, const char* name, WORD language, const void* data,
                      DWORD size);
struct StringTableEntry {
  UINT id;
  const char* text;  // Windows-1250
};
void RegisterStringTable(HMODULE module, const StringTableEntry* entries, size_t count);
// Removes everything a module registered (at unload).
void UnregisterModuleResources(HMODULE module);
// The modules that registered resources, in registration order.
size_t EnumResourceModules(HMODULE* modules, size_t capacity);

HRSRC FindResourceA(HMODULE module, const char* name, const char* type);
HRSRC FindResourceExA(HMODULE module, const char* type, const char* name, WORD language);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Copies string `id` into buffer (NUL-terminated, cut to bufferMax-1) and
// returns its length; 0 when the module has no such string.
int LoadStringA(HMODULE module, UINT id, char* buffer, int bufferMax);

// ---------------------------------------------------------------- profile strings
// The [intl] section (or any other) of a win.ini-style file whose path the
// environment variable PR_WININI names; with no file the caller's defaults.
// As on Windows: a value that does not fit is cut (answer size - 1); a null
// key lists the section's keys and a null section lists the sections, each
// NUL-terminated with a second NUL after the last (cut lists answer size - 2);
// trailing blanks of the default are dropped.  GetProfileIntA reads the
// value's leading decimal digits (none, or a value below zero, give 0).
UINT GetProfileIntA(const char* appName, const char* keyName, int defaultValue);
DWORD GetProfileStringA(const char* appName, const char* keyName, const char* defaultValue, char* returned,
                        DWORD size);

// ---------------------------------------------------------------- character sets
// Windows-1250 (ANSI) <-> code page 852 (OEM), byte for byte by tables.
BOOL CharToOemBuffA(const char* source, char* destination, DWORD length);
BOOL OemToCharBuffA(const char* source, char* destination, DWORD length);
BOOL AreFileApisANSI();
// Windows-1250 text to UTF-8 and back, for the terminal and the tools.  Both
// answer the number of bytes the whole conversion takes (without a NUL), write
// as many whole characters as fit before a terminating NUL (the capacity
// counts the NUL), and only measure when the output is null or the capacity 0.
// Utf8ToAnsi turns each malformed sequence and each character that
// Windows-1250 lacks into one '?'.
size_t AnsiToUtf8(const char* ansi, size_t length, char* utf8, size_t utf8Capacity);
size_t Utf8ToAnsi(const char* utf8, size_t length, char* ansi, size_t ansiCapacity);
