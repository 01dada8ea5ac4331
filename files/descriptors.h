// File, field, key and memo descriptors, the field type codes, the driver
// operation codes and the driver records.
//
// Every declared FILE (and every VIEW) is represented at run time by a
// FileDescriptor.  Drivers reach everything they need through it: the record
// buffer, the declaration block (external name, owner, driver string,
// attributes, record structure), the keys and the memos.  All file statements
// hand one operation code, the descriptor and an argument block to the
// dispatcher (files/dispatch.h), which calls the descriptor's driver entry.
//
// Ownership: the declaration block, field and memo descriptors are static data
// of compiled code and are shared by every instance.  A descriptor, its record
// buffer and its key descriptors are static too, except for files declared
// THREAD, where each thread has its own copy made from a template (see
// files/thread_files.h).
//
// Thread safety: a descriptor of a THREAD file belongs to one thread.  A
// descriptor shared by threads is serialised by its driver.
#pragma once

#include <cstdint>
#include <string_view>

namespace pr::files {

struct FileDescriptor;
struct KeyDescriptor;
struct DriverRecord;
struct TransactionRecord;

// ------------------------------------------------------------ type codes
// A field's type code indexes this table; TypeName() prints it.
enum TypeCode : uint8_t {
  TYPE_END = 0,
  TYPE_BYTE = 1,
  TYPE_SHORT = 2,
  TYPE_USHORT = 3,
  TYPE_DATE = 4,
  TYPE_TIME = 5,
  TYPE_LONG = 6,
  TYPE_ULONG = 7,
  TYPE_SREAL = 8,
  TYPE_REAL = 9,
  TYPE_DECIMAL = 10,
  TYPE_PDECIMAL = 11,
  TYPE_DUM1 = 12,
  TYPE_BFLOAT4 = 13,
  TYPE_BFLOAT8 = 14,
  TYPE_ANY = 15,
  TYPE_TEMPUFO = 16,
  // 17 has no name.
  TYPE_STRING = 18,
  TYPE_CSTRING = 19,
  TYPE_PSTRING = 20,
  TYPE_MEMO = 21,
  TYPE_GROUP = 22,
  TYPE_CLASS = 23,
  TYPE_ARRAY = 24,
  TYPE_FIELD = 25,
  TYPE_QUEUE = 26,
  TYPE_BLOB = 27,
  TYPE_STACKSTR = 28,
  TYPE_PICTURE = 29,
  TYPE_STDNUM = 30,
};
inline constexpr int kTypeCodeCount = 31;

// ------------------------------------------------------------ operation codes
// The number selects the driver operation.  The suffix tells the statement
// form: `file` on a file, `key` on a key, `ptr` with a record pointer, `len`
// with a length, `sec` with a time-out in seconds.  OperationName() prints
// them.
enum OpCode : int32_t {
  OP_NONE = 0,
  OP_ADD = 1,
  OP_BOF = 2,
  OP_BUILDfile = 3,
  OP_APPEND = 4,
  OP_BUILDdyn = 5,
  OP_BUILDkey = 6,
  OP_CLOSE = 7,
  OP_COMMIT = 8,
  OP_COPY = 9,
  OP_CREATE = 10,
  OP_DELETE = 11,
  OP_DUPLICATE = 12,
  OP_EMPTY = 13,
  OP_EOF = 14,
  OP_GETfilekey = 15,
  OP_GETfileptr = 16,
  OP_GETkeyptr = 17,
  OP_HOLDfile = 18,
  OP_HOLDfilesec = 19,
  OP_LOCKfile = 20,
  OP_LOCKfilesec = 21,
  OP_LOGOUT = 22,
  OP_NAME = 23,
  OP_NEXT = 24,
  OP_OPEN = 25,
  OP_PACK = 26,
  OP_POINTERfile = 27,
  OP_POINTERkey = 28,
  OP_FLUSH = 29,
  OP_PUT = 30,
  OP_PREVIOUS = 31,
  OP_RECORDSfile = 32,
  OP_RECORDSkey = 33,
  OP_BUILDdynfilter = 34,
  OP_STARTRAN = 35,
  OP_RELEASE = 36,
  OP_REMOVE = 37,
  OP_RENAME = 38,
  OP_ENDTRAN = 39,
  OP_ROLLBACK = 40,
  OP_SETfile = 41,
  OP_SETfilekey = 42,
  OP_SETfileptr = 43,
  OP_SETkey = 44,
  OP_SETkeykey = 45,
  OP_SETkeyptr = 46,
  OP_SETkeykeyptr = 47,
  OP_SHARE = 48,
  OP_SKIP = 49,
  OP_UNLOCK = 50,
  OP_ADDfilelen = 51,
  OP_BYTES = 52,
  OP_GETfileptrlen = 53,
  OP_PUTfileptr = 54,
  OP_PUTfileptrlen = 55,
  OP_STREAM = 56,
  OP_DUPLICATEkey = 57,
  OP_WATCH = 58,
  OP_APPENDlen = 59,
  OP_SEND = 60,
  OP_POSITIONfile = 61,
  OP_POSITIONkey = 62,
  OP_RESETfile = 63,
  OP_RESETkey = 64,
  OP_NOMEMO = 65,
  OP_REGETfile = 66,
  OP_REGETkey = 67,
  OP_NULL = 68,
  OP_SETNULL = 69,
  OP_SETNONULL = 70,
  OP_SET_PROPERTY = 71,
  OP_GET_PROPERTY = 72,
  OP_QUERY_KEY = 73,
  OP_QUERY_VIEW = 74,
  OP_BLOB_YIELD = 75,
  OP_BLOB_TAKE = 76,
  OP_BLOB_SIZE = 77,
  OP_BLOB_SET_PROP = 78,
  OP_BLOB_GET_PROP = 79,
  OP_BUFFER = 80,
  OP_SETview = 81,
  OP_CLEAR = 82,
  OP_RESETviewfile = 83,
  OP_BUILDevent = 84,
  OP_SETPROPERTYkey = 85,
  OP_GETPROPERTYkey = 86,
  OP_Internal87 = 87,
  OP_DO_PROPERTY = 88,
  OP_DOPROPERTYkey = 89,
  OP_DOPROPERTYblob = 90,
  OP_Internal91 = 91,  // the driver's identity (LOGOUT compares it)
  OP_INVIEW = 92,
  OP_ENDVIEW = 93,
  OP_Internal94 = 94,
  OP_COUNTRECORDS = 95,
  OP_GETNULLS = 96,
  OP_SETNULLS = 97,
  OP_GETSTATE = 98,
  OP_RESTORESTATE = 99,
  OP_Internal100 = 100,
  OP_101 = 101,  // no name
  OP_FREESTATE = 102,
  OP_SQLCALLBACK = 103,
  OP_DESTROY = 104,
};
inline constexpr int32_t kOpCodeCount = 105;

// ------------------------------------------------------------ driver entry
// One function per driver performs every operation.  `file` is the file the
// statement names (for a statement on a key, the key's owning file); `args`
// is the argument block: machine words holding the statement's further
// arguments in source order (access mode, key pointer, record pointer,
// seconds, ...).  `args` may be null when the operation takes none.  The
// result is the statement's value where it has one.  The outcome is left in
// the calling thread's error state (files/errors.h): code 0 after success.
// A driver that does not implement an operation sets error 80.
using DriverEntry = int32_t (*)(int32_t op, FileDescriptor* file, intptr_t* args);

// Called with the descriptor just before the next operation on it; the
// dispatcher clears the hook before calling it.
using OneShotHook = void (*)(FileDescriptor* file);

// ------------------------------------------------------------ fields
// One per field of the record, numbered from 1 in declaration order; members
// of a GROUP follow the GROUP's own descriptor.
struct FieldDescriptor {
  uint32_t place = 0;         // byte offset in the record buffer
  uint32_t size = 0;          // bytes (STRING family: declared length;
                              // DECIMAL/PDECIMAL: 2*size-1 digits)
  uint32_t places = 0;        // decimal places of DECIMAL and PDECIMAL
  uint32_t overField = 0;     // number (from 1) of the field this one is OVER; 0 none
  const char* picture = nullptr;  // STRING family declared with a picture ("s20"
                                  // for @s20, without the '@'); null otherwise
  uint32_t memberCount = 0;   // GROUP: number of following descriptors in it
  const uint32_t* dims = nullptr;  // DIM sizes; ends at dimCount or first 0
  uint8_t dimCount = 0;
  uint8_t type = TYPE_END;    // TypeCode
  std::string_view label;     // with prefix, as "PAR:NAZIV"
  std::string_view name;      // NAME attribute; empty when absent
};

// ------------------------------------------------------------ keys
enum KeyFlags : uint32_t {
  KEY_DUP = 0x0001,
  KEY_OPT = 0x0002,
  KEY_NOCASE = 0x0004,
  KEY_PRIMARY = 0x0010,
  KEY_INDEX = 0x4000,  // otherwise a KEY
};

// One per KEY or INDEX, numbered from 1.  Per thread for THREAD files (its
// `file` points at the thread's own descriptor).
struct KeyDescriptor {
  std::string_view name;   // NAME attribute (physical key name); empty when absent
  std::string_view label;  // as "PAR:IdKey"
  uint32_t flags = 0;      // KeyFlags
  uint8_t componentCount = 0;
  const int32_t* components = nullptr;  // field numbers from 1; negative = descending
  FileDescriptor* file = nullptr;       // the owning file
  void* driverState = nullptr;          // the driver's own per-key data
};

// ------------------------------------------------------------ memos
enum MemoFlags : uint8_t {
  MEMO_BINARY = 0x02,
  MEMO_BLOB = 0x04,  // otherwise a MEMO
};

struct MemoDescriptor {
  std::string_view name;
  std::string_view label;
  uint8_t flags = 0;  // MemoFlags
  uint32_t size = 0;  // declared MEMO size; unused for BLOB
};

// ------------------------------------------------------------ declaration
enum FileAttributes : uint8_t {
  ATTR_ENCRYPT = 0x01,
  ATTR_CREATE = 0x02,
  ATTR_RECLAIM = 0x04,
  ATTR_THREAD = 0x08,
  ATTR_OEM = 0x10,  // string fields kept in the OEM character set in the file
};

struct Declaration {
  std::string_view name;          // NAME attribute; empty: the label names the file
  std::string_view owner;         // OWNER password; empty when none; never printed
  std::string_view driverString;  // second argument of DRIVER, uninterpreted
  uint8_t attributes = 0;         // FileAttributes
  uint32_t memoCount = 0;
  uint32_t keyCount = 0;
  const FieldDescriptor* fields = nullptr;  // the record structure, or null
  uint32_t fieldCount = 0;
};

// ------------------------------------------------------------ file descriptor
enum : int32_t {
  KIND_FILE = 76,
  KIND_VIEW = 32,
};

enum DescriptorFlags : uint32_t {
  // The driver's operations on this descriptor skip its process-wide
  // critical section.
  FD_SKIP_DRIVER_LOCK = 0x0001,
  // Kept by the file layer: set after a successful OPEN, cleared by CLOSE.
  FD_OPEN = 0x0100,
};

struct FileDescriptor {
  int32_t kind = KIND_FILE;       // KIND_FILE or KIND_VIEW
  DriverEntry entry = nullptr;    // the driver (for a view, the view engine)
  OneShotHook hook = nullptr;     // runs before the next operation, then cleared
  std::string_view label;         // as declared, upper case ("PARTNERI")
  uint8_t* record = nullptr;      // record buffer
  uint32_t recordLength = 0;
  Declaration declaration;
  KeyDescriptor* keys = nullptr;        // declaration.keyCount entries
  const MemoDescriptor* memos = nullptr;  // declaration.memoCount entries
  const DriverRecord* driver = nullptr;   // the driver named by DRIVER('...')
  uint32_t flags = 0;                   // DescriptorFlags
  void* driverState = nullptr;          // the driver's own per-descriptor data
  // Views: the primary file and the view's structure (owned by the view
  // engine; opaque to the rest of the layer).
  FileDescriptor* primary = nullptr;
  const void* viewStructure = nullptr;
  // Multi-file transactions (files/transactions.h); owned by the file layer.
  TransactionRecord* transaction = nullptr;
};

// ------------------------------------------------------------ drivers
// One per linked driver, static except for the entry point, which a driver
// living in another layer registers at module start (RegisterDriverEntry).
struct DriverRecord {
  char name[21];         // as in DRIVER('...'), NUL-padded
  char moduleName[13];   // the stand-alone form of the driver
  const char* notice;
  char description[31];  // shown to users
  DriverEntry entry;     // the record's own entry: forwards to the registered one
  uint32_t capabilities;
  // Structure limits (0: no limit of the file layer's own).
  uint32_t maxFields;
  uint32_t maxKeys;
  uint32_t maxMemos;
  uint32_t maxRecordSize;
};

}  // namespace pr::files
