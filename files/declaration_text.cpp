#include "files/declaration_text.h"

#include <cstdio>
#include <iterator>

namespace pr::files {
namespace {

constexpr const char* kOperationNames[] = {
    "(0)",          "ADD",           "BOF",           "BUILDfile",     "APPEND",        "BUILDdyn",
    "BUILDkey",     "CLOSE",         "COMMIT",        "COPY",          "CREATE",        "DELETE",
    "DUPLICATE",    "EMPTY",         "EOF",           "GETfilekey",    "GETfileptr",    "GETkeyptr",
    "HOLDfile",     "HOLDfilesec",   "LOCKfile",      "LOCKfilesec",   "LOGOUT",        "NAME",
    "NEXT",         "OPEN",          "PACK",          "POINTERfile",   "POINTERkey",    "FLUSH",
    "PUT",          "PREVIOUS",      "RECORDSfile",   "RECORDSkey",    "BUILDdynfilter", "STARTRAN",
    "RELEASE",      "REMOVE",        "RENAME",        "ENDTRAN",       "ROLLBACK",      "SETfile",
    "SETfilekey",   "SETfileptr",    "SETkey",        "SETkeykey",     "SETkeyptr",     "SETkeykeyptr",
    "SHARE",        "SKIP",          "UNLOCK",        "ADDfilelen",    "BYTES",         "GETfileptrlen",
    "PUTfileptr",   "PUTfileptrlen", "STREAM",        "DUPLICATEkey",  "WATCH",         "APPENDlen",
    "SEND",         "POSITIONfile",  "POSITIONkey",   "RESETfile",     "RESETkey",      "NOMEMO",
    "REGETfile",    "REGETkey",      "NULL",          "SETNULL",       "SETNONULL",     "SET_PROPERTY",
    "GET_PROPERTY", "QUERY_KEY",     "QUERY_VIEW",    "BLOB_YIELD",    "BLOB_TAKE",     "BLOB_SIZE",
    "BLOB_SET_PROP", "BLOB_GET_PROP", "BUFFER",       "SETview",       "CLEAR",         "RESETviewfile",
    "BUILDevent",   "SETPROPERTYkey", "GETPROPERTYkey", "Internal87",  "DO_PROPERTY",   "DOPROPERTYkey",
    "DOPROPERTYblob", "Internal91",  "INVIEW",        "ENDVIEW",       "Internal94",    "COUNTRECORDS",
    "GETNULLS",     "SETNULLS",      "GETSTATE",      "RESTORESTATE",  "Internal100",   "(101)",
    "FREESTATE",    "SQLCALLBACK",   "DESTROY",
};

constexpr const char* kTypeNames[] = {
    "END",     "BYTE",   "SHORT",  "USHORT",  "DATE",  "TIME",    "LONG",  "ULONG",  "SREAL",    "REAL",
    "DECIMAL", "PDECIMAL", "DUM1", "BFLOAT4", "BFLOAT8", "ANY",   "TEMPUFO", "(17)", "STRING",   "CSTRING",
    "PSTRING", "MEMO",   "GROUP",  "CLASS",   "ARRAY", "FIELD",   "QUEUE", "BLOB",   "STACKSTR", "PICTURE",
    "STDNUM",
};

static_assert(std::size(kOperationNames) == kOpCodeCount);
static_assert(std::size(kTypeNames) == kTypeCodeCount);

constexpr size_t kFileColumn = 36;
constexpr size_t kItemColumn = 38;
constexpr size_t kFieldColumn = 40;

// Starts a line: the label, then spaces to `column` (one space when the
// label already reaches it).
void StartLine(std::string& out, std::string_view label, size_t column) {
  out.append(label);
  if (label.size() < column) {
    out.append(column - label.size(), ' ');
  } else {
    out.push_back(' ');
  }
}

std::string Format(const char* format, uint32_t a, uint32_t b = 0) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a, b);
  return buffer;
}

class Renderer {
 public:
  Renderer(const FileDescriptor& file, std::string& out) : file_(file), out_(out) {}

  void File() {
    const Declaration& d = file_.declaration;
    StartLine(out_, file_.label, kFileColumn);
    out_ += "FILE,DRIVER('";
    if (file_.driver != nullptr) out_ += file_.driver->name;
    if (!d.driverString.empty()) {
      out_ += "','";
      out_.append(d.driverString);
    }
    out_ += "')";
    if (!d.owner.empty()) out_ += ",OWNER(******)";
    if (!d.name.empty()) {
      out_ += ",NAME('";
      out_.append(d.name);
      out_ += "')";
    }
    if (d.attributes & ATTR_CREATE) out_ += ",CREATE";
    if (d.attributes & ATTR_ENCRYPT) out_ += ",ENCRYPT";
    if (d.attributes & ATTR_RECLAIM) out_ += ",RECLAIM";
    if (d.attributes & ATTR_THREAD) out_ += ",THREAD";
    out_ += '\n';

    if (file_.keys != nullptr) {
      for (uint32_t i = 0; i < d.keyCount; ++i) Key(file_.keys[i]);
    }
    if (file_.memos != nullptr) {
      for (uint32_t i = 0; i < d.memoCount; ++i) Memo(file_.memos[i]);
    }
    if (d.fields != nullptr && d.fieldCount > 0) {
      StartLine(out_, {}, kItemColumn);
      out_ += "RECORD\n";
      Fields(0, d.fieldCount, kFieldColumn);
    }
    StartLine(out_, {}, kItemColumn);
    out_ += "END\n";
    StartLine(out_, {}, kFileColumn);
    out_ += "END\n";
  }

 private:
  // The label of field `number` (from 1), or "?" when out of range.
  std::string_view FieldLabel(uint32_t number) const {
    const Declaration& d = file_.declaration;
    if (d.fields == nullptr || number == 0 || number > d.fieldCount) return "?";
    return d.fields[number - 1].label;
  }

  void Key(const KeyDescriptor& key) {
    StartLine(out_, key.label, kItemColumn);
    out_ += (key.flags & KEY_INDEX) ? "INDEX(" : "KEY(";
    for (uint32_t i = 0; key.components != nullptr && i < key.componentCount; ++i) {
      if (i > 0) out_ += ',';
      int32_t component = key.components[i];
      out_ += component < 0 ? '-' : '+';
      uint32_t number = component < 0 ? 0u - static_cast<uint32_t>(component) : static_cast<uint32_t>(component);
      out_.append(FieldLabel(number));
    }
    out_ += ')';
    if (key.flags & KEY_DUP) out_ += ",DUP";
    if (key.flags & KEY_OPT) out_ += ",OPT";
    if (key.flags & KEY_NOCASE) out_ += ",NOCASE";
    if (key.flags & KEY_PRIMARY) out_ += ",PRIMARY";
    if (!key.name.empty()) {
      out_ += ",NAME('";
      out_.append(key.name);
      out_ += "')";
    }
    out_ += '\n';
  }

  void Memo(const MemoDescriptor& memo) {
    StartLine(out_, memo.label, kItemColumn);
    if (memo.flags & MEMO_BLOB) {
      out_ += "BLOB";
    } else {
      out_ += Format("MEMO(%u)", memo.size);
    }
    if (!memo.name.empty()) {
      out_ += ",NAME('";
      out_.append(memo.name);
      out_ += "')";
    }
    if (memo.flags & MEMO_BINARY) out_ += ",BINARY";
    out_ += '\n';
  }

  // Renders fields [begin, end) at `column`; a GROUP takes its members from
  // the descriptors that follow it, never past `end`.
  void Fields(uint32_t begin, uint32_t end, size_t column) {
    const FieldDescriptor* fields = file_.declaration.fields;
    uint32_t i = begin;
    while (i < end) {
      const FieldDescriptor& f = fields[i];
      Field(f, column);
      ++i;
      if (f.type == TYPE_GROUP) {
        uint32_t members = f.memberCount <= end - i ? f.memberCount : end - i;
        Fields(i, i + members, column + 2);
        i += members;
        StartLine(out_, {}, column);
        out_ += "END\n";
      }
    }
  }

  void Field(const FieldDescriptor& f, size_t column) {
    StartLine(out_, f.label, column);
    out_ += TypeName(f.type);
    switch (f.type) {
      case TYPE_DECIMAL:
      case TYPE_PDECIMAL:
        out_ += Format("(%u,%u)", f.size > 0 ? 2 * f.size - 1 : 0, f.places);
        break;
      case TYPE_STRING:
      case TYPE_CSTRING:
      case TYPE_PSTRING:
        if (f.picture != nullptr && f.picture[0] != '\0') {
          out_ += "(@";
          out_ += f.picture;
          out_ += ')';
        } else {
          out_ += Format("(%u)", f.size);
        }
        break;
      default:
        break;
    }
    if (f.dims != nullptr && f.dimCount > 0 && f.dims[0] != 0) {
      out_ += ", DIM(";
      for (uint8_t d = 0; d < f.dimCount && f.dims[d] != 0; ++d) {
        if (d > 0) out_ += ',';
        out_ += Format("%u", f.dims[d]);
      }
      out_ += ')';
    }
    if (f.overField != 0) {
      out_ += ", OVER(";
      out_.append(FieldLabel(f.overField));
      out_ += ')';
    }
    if (!f.name.empty() && f.name != f.label) {
      out_ += ", NAME('";
      out_.append(f.name);
      out_ += "')";
    }
    out_ += '\n';
  }

  const FileDescriptor& file_;
  std::string& out_;
};

}  // namespace

std::string OperationName(int32_t op) {
  if (op < 0 || op >= kOpCodeCount) return {};
  return kOperationNames[op];
}

std::string TypeName(uint32_t type) {
  if (type >= static_cast<uint32_t>(kTypeCodeCount)) return "UNKNOWN";
  return kTypeNames[type];
}

std::string DeclarationText(const FileDescriptor& file) {
  std::string out;
  Renderer(file, out).File();
  return out;
}

}  // namespace pr::files
