#include "files/statements.h"

#include <initializer_list>
#include <string>

#include "files/dispatch.h"
#include "files/errors.h"
#include "files/string_stack.h"

namespace pr::files {
namespace {

intptr_t Word(const void* pointer) { return reinterpret_cast<intptr_t>(pointer); }

int32_t FileOp(int32_t op, FileDescriptor* file, std::initializer_list<intptr_t> args = {}) {
  intptr_t block[kArgumentBlockWords] = {};
  size_t count = 0;
  for (intptr_t arg : args) {
    if (count < kArgumentBlockWords) block[count++] = arg;
  }
  return Dispatch(op, file, count > 0 ? block : nullptr, count);
}

// A statement on a key: the key's owning file is the descriptor and the key
// the first word of the block.
int32_t KeyOp(int32_t op, KeyDescriptor* key, std::initializer_list<intptr_t> more = {}) {
  if (key == nullptr) {
    // Every statement overwrites the whole error state, file error texts too.
    ClearError();
    SetErrorCode(err::FileNotOpen);
    return 0;
  }
  intptr_t block[kArgumentBlockWords] = {Word(key)};
  size_t count = 1;
  for (intptr_t arg : more) {
    if (count < kArgumentBlockWords) block[count++] = arg;
  }
  return Dispatch(op, key->file, block, count);
}

// Runs a statement with string arguments and, when `result` is given, a
// string result.  The driver pops its arguments and, after success, pushes
// the result; after a failure nothing on the stack is taken as a result.
// The stack is left as it was before the call.
template <typename Run>
int32_t WithStrings(std::initializer_list<std::string_view> strings, std::string* result, Run run) {
  size_t depth = StringStackDepth();
  for (std::string_view text : strings) PushString(text);
  int32_t value = run();
  if (result != nullptr && ErrorCode() == 0 && StringStackDepth() > depth) *result = PopString();
  TrimStringStack(depth);
  return value;
}

}  // namespace

void Open(FileDescriptor* file, int32_t mode) { FileOp(OP_OPEN, file, {mode}); }
void Close(FileDescriptor* file) { FileOp(OP_CLOSE, file); }
void Create(FileDescriptor* file) { FileOp(OP_CREATE, file); }
void Build(FileDescriptor* file) { FileOp(OP_BUILDfile, file); }
void Add(FileDescriptor* file) { FileOp(OP_ADD, file); }
void Put(FileDescriptor* file) { FileOp(OP_PUT, file); }
void Delete(FileDescriptor* file) { FileOp(OP_DELETE, file); }
void Get(FileDescriptor* file, int32_t pointer) { FileOp(OP_GETfileptr, file, {pointer}); }
void Get(FileDescriptor* file, KeyDescriptor* key) { FileOp(OP_GETfilekey, file, {Word(key)}); }
void Get(KeyDescriptor* key, int32_t pointer) { KeyOp(OP_GETkeyptr, key, {pointer}); }
bool Duplicate(KeyDescriptor* key) { return KeyOp(OP_DUPLICATEkey, key) != 0; }
void Next(FileDescriptor* fileOrView) { FileOp(OP_NEXT, fileOrView); }
void Previous(FileDescriptor* fileOrView) { FileOp(OP_PREVIOUS, fileOrView); }
void Skip(FileDescriptor* fileOrView, int32_t count) { FileOp(OP_SKIP, fileOrView, {count}); }

void Set(FileDescriptor* file) {
  if (file != nullptr && file->kind == KIND_VIEW) {
    SetView(file, 0);
  } else {
    FileOp(OP_SETfile, file);
  }
}
void Set(FileDescriptor* file, KeyDescriptor* key) { FileOp(OP_SETfilekey, file, {Word(key)}); }
void Set(FileDescriptor* file, int32_t pointer) {
  if (file != nullptr && file->kind == KIND_VIEW) {
    SetView(file, pointer);
  } else {
    FileOp(OP_SETfileptr, file, {pointer});
  }
}
void Set(KeyDescriptor* key) { KeyOp(OP_SETkey, key); }
void Set(KeyDescriptor* key, KeyDescriptor* start) { KeyOp(OP_SETkeykey, key, {Word(start)}); }
void Set(KeyDescriptor* key, int32_t pointer) { KeyOp(OP_SETkeyptr, key, {pointer}); }
void Set(KeyDescriptor* key, KeyDescriptor* start, int32_t pointer) {
  KeyOp(OP_SETkeykeyptr, key, {pointer, Word(start)});
}
void SetView(FileDescriptor* view, int32_t components) { FileOp(OP_SETview, view, {components}); }

std::string Position(FileDescriptor* file) {
  std::string result;
  WithStrings({}, &result, [&] { return FileOp(OP_POSITIONfile, file); });
  return result;
}
std::string Position(KeyDescriptor* key) {
  std::string result;
  WithStrings({}, &result, [&] { return KeyOp(OP_POSITIONkey, key); });
  return result;
}
void Reset(FileDescriptor* file, std::string_view position) {
  WithStrings({position}, nullptr, [&] { return FileOp(OP_RESETfile, file); });
}
void Reset(KeyDescriptor* key, std::string_view position) {
  WithStrings({position}, nullptr, [&] { return KeyOp(OP_RESETkey, key); });
}
void Reget(FileDescriptor* file, std::string_view position) {
  WithStrings({position}, nullptr, [&] { return FileOp(OP_REGETfile, file); });
}
void Reget(KeyDescriptor* key, std::string_view position) {
  WithStrings({position}, nullptr, [&] { return KeyOp(OP_REGETkey, key); });
}
void ResetViewFile(FileDescriptor* view) { FileOp(OP_RESETviewfile, view); }

int32_t Records(FileDescriptor* file) { return FileOp(OP_RECORDSfile, file); }
int32_t Records(KeyDescriptor* key) { return KeyOp(OP_RECORDSkey, key); }
int32_t Pointer(FileDescriptor* file) { return FileOp(OP_POINTERfile, file); }
int32_t Pointer(KeyDescriptor* key) { return KeyOp(OP_POINTERkey, key); }
int32_t Bytes(FileDescriptor* file) { return FileOp(OP_BYTES, file); }
bool Eof(FileDescriptor* file) { return FileOp(OP_EOF, file) != 0; }
bool Bof(FileDescriptor* file) { return FileOp(OP_BOF, file) != 0; }

void Hold(FileDescriptor* file) { FileOp(OP_HOLDfile, file); }
void Hold(FileDescriptor* file, int32_t seconds) { FileOp(OP_HOLDfilesec, file, {seconds}); }
void Release(FileDescriptor* file) { FileOp(OP_RELEASE, file); }
void Lock(FileDescriptor* file) { FileOp(OP_LOCKfile, file); }
void Lock(FileDescriptor* file, int32_t seconds) { FileOp(OP_LOCKfilesec, file, {seconds}); }
void Unlock(FileDescriptor* file) { FileOp(OP_UNLOCK, file); }
void Watch(FileDescriptor* file) { FileOp(OP_WATCH, file); }
void Stream(FileDescriptor* file) { FileOp(OP_STREAM, file); }
void Flush(FileDescriptor* file) { FileOp(OP_FLUSH, file); }
void NoMemo(FileDescriptor* file) { FileOp(OP_NOMEMO, file); }
void Empty(FileDescriptor* file) { FileOp(OP_EMPTY, file); }
void Share(FileDescriptor* file, int32_t mode) { FileOp(OP_SHARE, file, {mode}); }
void Remove(FileDescriptor* file) { FileOp(OP_REMOVE, file); }
void Rename(FileDescriptor* file, std::string_view newName) {
  WithStrings({newName}, nullptr, [&] { return FileOp(OP_RENAME, file); });
}
void Copy(FileDescriptor* file, std::string_view newName) {
  WithStrings({newName}, nullptr, [&] { return FileOp(OP_COPY, file); });
}

std::string Name(FileDescriptor* file) {
  std::string result;
  WithStrings({}, &result, [&] { return FileOp(OP_NAME, file); });
  return result;
}

std::string Send(FileDescriptor* file, std::string_view text) {
  std::string result;
  WithStrings({text}, &result, [&] { return FileOp(OP_SEND, file); });
  return result;
}

std::string GetProperty(FileDescriptor* file, int32_t property, int32_t index) {
  std::string result;
  std::string number = std::to_string(property);
  WithStrings({number}, &result, [&] { return FileOp(OP_GET_PROPERTY, file, {index}); });
  return result;
}

void SetProperty(FileDescriptor* file, int32_t property, std::string_view value, int32_t index) {
  std::string number = std::to_string(property);
  WithStrings({number, value}, nullptr, [&] { return FileOp(OP_SET_PROPERTY, file, {index}); });
}

void SetBlobProperty(FileDescriptor* file, uint16_t property, std::string_view value) {
  WithStrings({value}, nullptr, [&] { return FileOp(OP_BLOB_SET_PROP, file, {property}); });
}

void ViewBracket(FileDescriptor* file, bool inView) { FileOp(inView ? OP_INVIEW : OP_ENDVIEW, file); }
void BuildEvent(FileDescriptor* file) { FileOp(OP_BUILDevent, file); }
void Destroy(FileDescriptor* file) { FileOp(OP_DESTROY, file); }

}  // namespace pr::files
