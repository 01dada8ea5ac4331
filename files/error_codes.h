// The runtime's file error numbers: the one place they are defined.
//
// Drivers, the file layer and the application all speak these numbers; the
// error state (files/errors.h) turns them into texts through the string
// table.  The names follow the catalogue's texts ("Record Not Available" is
// RecordNotAvailable).  The values are fixed: compiled code, stored warnings
// and the environment file's overrides all know them by number.
//
// Write a code by its name, never as a bare number; the layering test
// (tests/tools/test_error_literals.cpp) rejects a bare error literal or a
// second definition of one of these numbers in the folders that use them.
#pragma once

#include <cstdint>

namespace pr::files {

namespace err {
enum : int32_t {
  None = 0,

  // File errors, 2 .. 97.
  FileNotFound = 2,                    // "File Not Found"
  PathNotFound = 3,                    // "Path Not Found"
  TooManyOpenFiles = 4,                // "Too Many Open Files"
  AccessDenied = 5,                    // "Access Denied"
  MemoryCorrupted = 7,                 // "Memory Corrupted"
  InsufficientMemory = 8,              // "Insufficient Memory"
  BadDrive = 15,                       // "Bad drive"
  EntryNotFound = 30,                  // "Entry Not Found"
  FileAlreadyLocked = 32,              // "File Is Already Locked"
  RecordNotAvailable = 33,             // "Record Not Available"
  RecordNotFound = 35,                 // "Record Not Found"
  InvalidDataFile = 36,                // "Invalid Data File"
  FileNotOpen = 37,                    // "File Not Open"
  InvalidKeyFile = 38,                 // "Invalid Key File"
  CreatesDuplicateKey = 40,            // "Creates Duplicate Key"
  RecordAlreadyHeld = 43,              // "Record Is Already Held"
  InvalidFilename = 45,                // "Invalid Filename"
  KeyFileMustBeRebuilt = 46,           // "Key File Must Be Rebuilt"
  InvalidRecordDeclaration = 47,       // "Invalid Record Declaration"
  UnableToLogTransaction = 48,         // "Unable To Log Transaction"
  FileAlreadyOpen = 52,                // "File Already Open"
  InvalidVelmoraFile = 53,             // "Invalid Velmora File"
  NoCreateAttribute = 54,              // "No Create Attribute"
  FileMustBeShared = 55,               // "File Must Be Shared"
  LogoutAlreadyActive = 56,            // "LOGOUT Already Active"
  InvalidMemoFile = 57,                // "Invalid Memo File"
  ExclusiveAccessRequired = 63,        // "Exclusive Access Required"
  SharingViolation = 64,               // "Sharing Violation"
  UnableToRollback = 65,               // "Unable To ROLLBACK Transaction"
  MemoFileMissing = 73,                // "Memo File Missing"
  InvalidFieldTypeDescriptor = 75,     // "Invalid Field Type Descriptor"
  InvalidIndexString = 76,             // "Invalid Index String"
  UnableToAccessIndex = 77,            // "Unable To Access Index"
  InvalidParameterCount = 78,          // "Invalid Number Of Parameters"
  UnsupportedDataType = 79,            // "Unsupported Data Type In File"
  UnsupportedFunction = 80,            // "Unsupported File Driver Function"
  UnknownErrorPosted = 81,             // "Unknown Error Posted"
  InvalidKeyLength = 88,               // "Invalid Key Length"
  RecordChangedByAnotherStation = 89,  // "Record Changed By Another Station"
  FileSystemError = 90,                // "File System Error"
  LogoutNotActive = 91,                // "LOGOUT Not Active"
  BuildInProgress = 92,                // "BUILD In Progress"
  BuildCancelled = 93,                 // "BUILD Cancelled"
  ServerNotFound = 95,                 // "Server Not Found"
  RemoteObjectNotFound = 96,           // "Remote Object Not Found"
  StreamError = 97,                    // "Stream Error"

  // The others the layer reports.
  NoErrorState = 99,     // the error code when the thread's state cannot be had
  CallbackFailed = 100,  // a file callback reported a failure (no text of its own)
  OsErrorBase = 300,     // 300 + the operating system's error number
};
}  // namespace err

}  // namespace pr::files
