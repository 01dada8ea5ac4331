// The file statements of compiled code.  Each sends one operation through the
// dispatcher (files/dispatch.h) and leaves its outcome in the calling
// thread's error state (files/errors.h): ErrorCode() is 0 after success.
//
// Argument conventions: a statement on a file passes the file; a statement
// on a key passes the key's owning file as the descriptor and the key as the
// first word of the argument block; further numeric arguments follow in
// source order.  String arguments travel on the thread's string stack
// (files/string_stack.h), pushed before the call; string results are left
// there by the driver and returned here.  Whatever a driver leaves on the
// stack beyond the statement's result is removed, so the stack is balanced
// after every statement.
//
// Statements on a null key fail with error 37 (File Not Open) and send
// nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "files/descriptors.h"
#include "files/transactions.h"

namespace pr::files {

// OPEN access mode: bits 0-1 access (0 read, 1 write, 2 read and write),
// bits 4-6 sharing.
enum AccessMode : int32_t {
  ACCESS_READ = 0x00,
  ACCESS_WRITE = 0x01,
  ACCESS_READ_WRITE = 0x02,
  SHARE_DENY_ALL = 0x10,
  SHARE_DENY_WRITE = 0x20,
  SHARE_DENY_READ = 0x30,
  SHARE_DENY_NONE = 0x40,
};

void Open(FileDescriptor* file, int32_t mode = ACCESS_READ_WRITE | SHARE_DENY_WRITE);  // 25
void Close(FileDescriptor* file);                                                     // 7
void Create(FileDescriptor* file);                                                    // 10
void Build(FileDescriptor* file);                                                     // 3 BUILDfile
void Add(FileDescriptor* file);                                                       // 1
void Put(FileDescriptor* file);                                                       // 30
void Delete(FileDescriptor* file);                                                    // 11
void Get(FileDescriptor* file, int32_t pointer);                                      // 16 GETfileptr
void Get(FileDescriptor* file, KeyDescriptor* key);                                   // 15 GETfilekey
void Get(KeyDescriptor* key, int32_t pointer);                                        // 17 GETkeyptr
bool Duplicate(KeyDescriptor* key);                                                   // 57 DUPLICATEkey
void Next(FileDescriptor* fileOrView);                                                // 24
void Previous(FileDescriptor* fileOrView);                                            // 31
void Skip(FileDescriptor* fileOrView, int32_t count);                                 // 49

// On a view (kind 32), SET(view) and SET(view, n) send 81 SETview.
void Set(FileDescriptor* file);                                      // 41 SETfile
void Set(FileDescriptor* file, KeyDescriptor* key);                  // 42 SETfilekey
void Set(FileDescriptor* file, int32_t pointer);                     // 43 SETfileptr
void Set(KeyDescriptor* key);                                        // 44 SETkey
void Set(KeyDescriptor* key, KeyDescriptor* start);                  // 45 SETkeykey
void Set(KeyDescriptor* key, int32_t pointer);                       // 46 SETkeyptr
// 47 SETkeykeyptr: the block holds the key and the pointer, then the
// starting key as a third word.
void Set(KeyDescriptor* key, KeyDescriptor* start, int32_t pointer);
// 81 SETview: SET(view) sends 0, SET(view, n) sends n.
void SetView(FileDescriptor* view, int32_t components = 0);

std::string Position(FileDescriptor* file);                 // 61 POSITIONfile
std::string Position(KeyDescriptor* key);                   // 62 POSITIONkey
void Reset(FileDescriptor* file, std::string_view position);  // 63 RESETfile
void Reset(KeyDescriptor* key, std::string_view position);    // 64 RESETkey
void Reget(FileDescriptor* file, std::string_view position);  // 66 REGETfile
void Reget(KeyDescriptor* key, std::string_view position);    // 67 REGETkey
// 83 RESETviewfile: the view takes the primary file's current position.
void ResetViewFile(FileDescriptor* view);

int32_t Records(FileDescriptor* file);  // 32 RECORDSfile
int32_t Records(KeyDescriptor* key);    // 33 RECORDSkey
int32_t Pointer(FileDescriptor* file);  // 27 POINTERfile
int32_t Pointer(KeyDescriptor* key);    // 28 POINTERkey
int32_t Bytes(FileDescriptor* file);    // 52
bool Eof(FileDescriptor* file);         // 14
bool Bof(FileDescriptor* file);         // 2

void Hold(FileDescriptor* file);                   // 18 HOLDfile
void Hold(FileDescriptor* file, int32_t seconds);  // 19 HOLDfilesec
void Release(FileDescriptor* file);                // 36
void Lock(FileDescriptor* file);                   // 20 LOCKfile
void Lock(FileDescriptor* file, int32_t seconds);  // 21 LOCKfilesec
void Unlock(FileDescriptor* file);                 // 50
void Watch(FileDescriptor* file);                  // 58
void Stream(FileDescriptor* file);                 // 56
void Flush(FileDescriptor* file);                  // 29
void NoMemo(FileDescriptor* file);                 // 65
void Empty(FileDescriptor* file);                  // 13
void Share(FileDescriptor* file, int32_t mode);    // 48
void Remove(FileDescriptor* file);                 // 37
// 38 RENAME and 9 COPY: the new name on the string stack.
void Rename(FileDescriptor* file, std::string_view newName);
void Copy(FileDescriptor* file, std::string_view newName);

std::string Name(FileDescriptor* file);                               // 23 NAME
std::string Send(FileDescriptor* file, std::string_view text);       // 60 SEND: the answer

// Properties of a file or view: the property number (as decimal text) and,
// for a write, the value are pushed first; `index` is the argument (0 when
// none).  72 GET_PROPERTY returns the value the driver leaves on the stack.
std::string GetProperty(FileDescriptor* file, int32_t property, int32_t index = 0);  // 72
void SetProperty(FileDescriptor* file, int32_t property, std::string_view value, int32_t index = 0);  // 71
// 78 BLOB_SET_PROP: the 16-bit property number as argument, the value on the
// string stack.
void SetBlobProperty(FileDescriptor* file, uint16_t property, std::string_view value);

// 92 INVIEW when `inView`, otherwise 93 ENDVIEW.
void ViewBracket(FileDescriptor* file, bool inView);
void BuildEvent(FileDescriptor* file);  // 84 BUILDevent
// 104 DESTROY: the descriptor is being discarded (thread end).
void Destroy(FileDescriptor* file);

// LOGOUT, COMMIT, ROLLBACK: files/transactions.h.

}  // namespace pr::files
