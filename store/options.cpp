#include "store/options.h"

#include <cstdio>
#include <cstdlib>

#include "store/access.h"
#include "store/options_parse.h"
#include "store/physical.h"
#include "store/table.h"
#include "store/transaction.h"

namespace pr::store {
namespace {

void DefaultImportMessageBox(const char* title, const char* text) { std::fprintf(stderr, "%s: %s\n", title, text); }

ImportMessageBox g_importMessageBox = DefaultImportMessageBox;

std::string NextTableAfter(Container& container, const std::string& name) {
  std::string next;
  if (!NextTableName(container, name, &next)) return "";
  return next;
}

// PNMQ on a table that is not open: the file is opened read only, deny none,
// just for the query.
std::string QueryClosedFile(TableAccess* table, const std::string& name) {
  std::string fileName, tableName;
  if (!table->NameForOpen(&fileName, &tableName).ok()) return "";
  PhysicalFile* file = nullptr;
  if (!OpenPhysicalFile(fileName, kShareDenyNone, "", false, &file).ok()) return "";
  std::string answer;
  if (file->BeginRead().ok()) answer = NextTableAfter(file->container(), name);
  (void)file->Finish();
  ClosePhysicalFile(file);
  return answer;
}

bool ParseFlags(const std::string& text, uint32_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
  while (end && *end == ' ') ++end;
  if (end == nullptr || *end != '\0' || parsed > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace

void SetImportMessageBox(ImportMessageBox box) { g_importMessageBox = box ? box : DefaultImportMessageBox; }

std::string ApplyOption(TableAccess* table, const std::string& text) {
  ParsedOption option = ParseOption(text);
  switch (option.name) {
    case OptionName::kNone:
      return "";
    case OptionName::kDecimalCheck:
      if (option.hasValue) table->setDecimalCheck(!EqualsNoCase(option.value, "OFF"));
      return table->decimalCheck() ? "ON" : "OFF";
    case OptionName::kFullBuild:
      if (option.hasValue) table->setFullBuild(EqualsNoCase(option.value, "ON"));
      return table->fullBuild() ? "ON" : "OFF";
    case OptionName::kFlags: {
      if (!table->isOpen()) return "";
      uint32_t flags = 0;
      if (option.hasValue && ParseFlags(option.value, &flags)) {
        if (table->BeginChange().ok()) table->table()->SetFlags(flags);
        (void)table->Finish(Status::Ok());
        (void)table->BeginRead();
      }
      return std::to_string(table->table()->flags());
    }
    case OptionName::kTcf:
      if (option.hasValue) {
        // A file name never ends in blanks: those after it are dropped.
        std::string name = option.value;
        while (!name.empty() && name.back() == ' ') name.pop_back();
        SetTransactionControlFile(name);
      }
      return TransactionControlFile();
    case OptionName::kPnmq:
      if (!table->isOpen()) return QueryClosedFile(table, option.value);
      [[fallthrough]];
    case OptionName::kPnm:
      if (!table->isOpen()) return "";
      return NextTableAfter(table->file()->container(), option.value);
  }
  return "";
}

std::string SendRequest(TableAccess* table, const std::string& text, Status* error, bool silent) {
  *error = Status::Ok();
  std::string_view request = text;
  while (!request.empty() && request.front() == ' ') request.remove_prefix(1);
  while (!request.empty() && request.back() == ' ') request.remove_suffix(1);
  if (EqualsNoCase(request, "REGISTER")) return "TARNWELL";
  if (EqualsNoCase(request, "IMPORTFILE")) {
    if (!silent) g_importMessageBox("File Import", "File Driver does not support File Import");
    *error = Status::File(err::FileNotOpen);
    return "";
  }
  return ApplyOption(table, text);
}

}  // namespace pr::store
