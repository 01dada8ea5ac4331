#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "files/descriptors.h"
#include "files/errors.h"
#include "store/fatal_error.h"
#include "store/physical.h"
#include "tools/twl/fields.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl import FILE --table NAME [--like SOURCE] CSV [--progress]\n"
    "\n"
    "Adds the rows of CSV (the form `twl dump` writes: a header line of field\n"
    "labels, then one record a row) to table NAME of FILE, all in one update.\n"
    "Columns are matched to fields by label, with or without the prefix, case\n"
    "ignored; fields without a column are blank.  When a row does not fit the\n"
    "definition or a key refuses it, the whole import is refused with the\n"
    "line number and reason, and the file is left as it was.\n"
    "\n"
    "When FILE has no table NAME, --like SOURCE creates it with the definition,\n"
    "character set and collation of table NAME in the keyed file SOURCE.\n"
    "\n"
    "Exit: 0 imported, 1 refused (nothing changed), 2 usage or open error.\n";

// Undoes the open update and, for a file this import created, the file.  An
// import that ends any other way than by its successful write (a refusal, or
// a driver error raised in the middle) is abandoned, so it never leaves an
// empty file of its own behind.
struct ImportFile {
  std::string path;
  bool existed = false;
  bool written = false;
  store::PhysicalFile* file = nullptr;
  std::unique_ptr<store::Table> table;

  void Abandon() {
    table.reset();
    if (file) {
      try {
        file->DiscardChanges();
        (void)file->Finish();
      } catch (const store::DriverError&) {
        // The file is closed and, when this import made it, deleted below.
      }
      store::ClosePhysicalFile(file);
      file = nullptr;
    }
    if (!existed) DeleteFileA(path.c_str());
    existed = true;  // once
  }
  ~ImportFile() {
    if (!written) {
      Abandon();
      return;
    }
    table.reset();
    if (file) store::ClosePhysicalFile(file);
  }
};

// A value as a message shows it: a NUL would end the message there.
std::string Shown(const std::string& value) {
  std::string shown;
  for (char c : value) {
    if (c == '\0') shown += "\\0";
    else shown += c;
  }
  return shown;
}

bool LabelMatches(const std::string& label, const std::string& wanted) {
  std::string a = UpperCase(label), b = UpperCase(wanted);
  if (a == b) return true;
  size_t colon = a.find(':');
  return colon != std::string::npos && a.substr(colon + 1) == b;
}

int Refuse(ImportFile* target, const std::string& csv, int line, const std::string& reason) {
  target->Abandon();
  std::fprintf(stderr, "twl: %s line %d: %s; nothing imported\n", csv.c_str(), line, reason.c_str());
  return kExitFaults;
}

}  // namespace

int CommandImport(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 2) return UsageError("import takes FILE and CSV");
  const std::string* tableOption = args.Option("table");
  if (!tableOption || tableOption->empty()) return UsageError("import needs --table NAME");
  std::string tableName;
  if (!TableNameFromText(*tableOption, &tableName))
    return UsageError("the table name " + *tableOption + " holds a character that Windows-1250 lacks");
  const std::string tableText = TableNameText(tableName);
  const std::string& path = args.positional[0];
  const std::string& csvPath = args.positional[1];

  std::ifstream input(csvPath, std::ios::binary);
  if (!input) return ReportOpenError(csvPath, files::err::FileNotFound);
  std::stringstream buffer;
  buffer << input.rdbuf();
  CsvReader reader(buffer.str());

  // The definition of a table to create, read before FILE is touched.
  std::unique_ptr<FileLook> like;
  std::unique_ptr<store::Table> model;
  if (const std::string* source = args.Option("like")) {
    like = std::make_unique<FileLook>();
    if (int rc = like->Open(*source)) return ReportOpenError(*source, rc);
    if (int rc = store::FileErrorOf(
            store::Table::Open(like->container(), tableName, nullptr, store::Table::OpenOptions{}, &model)))
      return ReportOpenError(*source + " table " + tableText, rc);
  }

  ImportFile target;
  target.path = path;
  target.existed = true;
  if (store::Status rc = store::OpenPhysicalFile(path, store::kShareDenyNone | 0x02, "", false, &target.file);
      !rc.ok()) {
    target.file = nullptr;
    return ReportOpenError(path, store::FileErrorOf(rc));
  }
  // Whether this import made the file is the open's own answer: a look
  // before it could see no file that another program creates a moment later,
  // and a refused import would then delete that program's file.
  target.existed = !target.file->createdByOpen();
  if (store::Status rc = target.file->BeginChange(); !rc.ok()) {
    target.Abandon();
    return ReportOpenError(path, store::FileErrorOf(rc));
  }
  store::Container& file = target.file->container();
  store::RecordNumber number{};
  int rc = store::FileErrorOf(store::FindTable(file, tableName, &number));
  if (rc == files::err::FileNotFound && model) {
    rc = store::FileErrorOf(store::Table::Create(file, tableName, model->definition(), model->oem(),
                                                 model->collation(), &target.table));
  } else if (rc == 0) {
    rc = store::FileErrorOf(store::Table::Open(file, tableName, nullptr, store::Table::OpenOptions{}, &target.table));
  }
  if (rc != 0) {
    target.Abandon();
    if (rc == files::err::FileNotFound)
      std::fprintf(stderr, "twl: %s: no table %s (--like SOURCE creates it)\n", path.c_str(), tableText.c_str());
    else
      std::fprintf(stderr, "twl: %s: table %s: error %d: %s\n", path.c_str(), tableText.c_str(), rc,
                   files::MessageText(rc).c_str());
    return kExitUsage;
  }
  store::Table& table = *target.table;
  const store::TableDefinition& definition = table.definition();
  const std::vector<Column> columns = ColumnsOf(definition);

  std::vector<std::string> row;
  int line = 0;
  std::string error;
  if (!reader.Next(&row, &line, &error))
    return Refuse(&target, csvPath, 1, error.empty() ? "no header line" : error);
  std::vector<const Column*> mapping;
  for (const std::string& name : row) {
    const Column* found = nullptr;
    for (const Column& column : columns)
      if (LabelMatches(column.label, name)) found = &column;
    if (!found) return Refuse(&target, csvPath, line, "column \"" + name + "\" names no field of table " + tableText);
    for (const Column* seen : mapping)
      if (seen == found) return Refuse(&target, csvPath, line, "column \"" + name + "\" is given twice");
    mapping.push_back(found);
  }

  // A row starts from a blank record: strings spaces, everything else zero.
  std::vector<uint8_t> blank(table.recordLength(), 0), image;
  for (const store::FieldDefinition& field : definition.fields)
    if (field.type == files::TYPE_STRING && field.over == 0 && uint32_t{field.offset} + field.size <= blank.size())
      std::memset(blank.data() + field.offset, ' ', field.size);

  const std::string& text = buffer.str();
  const uint64_t totalLines = static_cast<uint64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  Progress progress("import " + tableText, args.progress);
  size_t rows = 0;
  std::vector<std::pair<size_t, std::vector<uint8_t>>> memos;
  while (reader.Next(&row, &line, &error)) {
    if (row.size() == 1 && row[0].empty()) continue;  // an empty line
    if (row.size() != mapping.size())
      return Refuse(&target, csvPath, line,
                    "the row has " + std::to_string(row.size()) + " fields, the header " +
                        std::to_string(mapping.size()));
    image = blank;
    memos.clear();
    for (size_t c = 0; c < row.size(); ++c) {
      std::string reason;
      const Column& column = *mapping[c];
      if (column.field >= 0) {
        if (!ParseFieldText(definition.fields[static_cast<size_t>(column.field)], row[c], image.data(),
                            table.recordLength(), &reason))
          return Refuse(&target, csvPath, line, column.label + " \"" + Shown(row[c]) + "\" " + reason);
      } else {
        std::vector<uint8_t> content;
        const size_t m = static_cast<size_t>(column.memo);
        if (!ParseMemoText(definition.memos[m], row[c], &content, &reason))
          return Refuse(&target, csvPath, line, column.label + " " + reason);
        if (!content.empty()) memos.emplace_back(m, std::move(content));
      }
    }
    store::RecordNumber record{};
    if (int code = store::FileErrorOf(table.Add(image.data(), &record)))
      return Refuse(&target, csvPath, line, "error " + std::to_string(code) + ": " + files::MessageText(code));
    for (const auto& [m, content] : memos)
      if (int code = store::FileErrorOf(table.WriteMemo(record, m, content.data(), content.size())))
        return Refuse(&target, csvPath, line, "memo: error " + std::to_string(code) + ": " + files::MessageText(code));
    if (++rows % 256 == 0) progress.Update(static_cast<int>(uint64_t{100} * static_cast<uint64_t>(line) / totalLines));
  }
  if (!error.empty()) return Refuse(&target, csvPath, line, error);
  progress.Done();
  target.table.reset();
  if (store::Status written = target.file->Finish(); !written.ok()) {
    target.Abandon();
    std::fprintf(stderr, "twl: %s: writing the import failed: system error %u; nothing imported\n", path.c_str(),
                 static_cast<unsigned>(written.code()));
    return kExitFaults;
  }
  target.written = true;
  std::printf("%s: imported %zu row%s into table %s\n", path.c_str(), rows, rows == 1 ? "" : "s",
              tableText.c_str());
  return kExitSound;
}

}  // namespace pr::twl
