#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/twl/fields.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl dump FILE [--table NAME] [--key N] [--format csv|json] [--progress]\n"
    "\n"
    "Writes the records of the table (the file's only table, or NAME) to\n"
    "standard output in record-number order, or in the order of key N (from\n"
    "1, as `twl info` numbers them).  Column names are the field labels of\n"
    "the stored definition; memos follow the fields.  Strings become UTF-8,\n"
    "dates show as yyyy-mm-dd (picture @D10-), times as hh:mm:ss (picture\n"
    "@T4) with .hh hundredths when not zero, DECIMAL with all its places.  A\n"
    "value no text gives back byte for byte is written raw as \\x and hex\n"
    "digits; a text beginning with \\ has it doubled.  CSV has a header line;\n"
    "JSON is an array of objects, one a line.  `twl import` reads the CSV.\n"
    "\n"
    "Read only; the dump is one committed state of the file.\n"
    "Exit: 0, 1 when a record could not be read, 2 usage or open error.\n";

}  // namespace

int CommandDump(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 1) return UsageError("dump takes one FILE");
  const std::string& path = args.positional[0];
  bool json = false;
  if (const std::string* format = args.Option("format")) {
    if (*format == "json")
      json = true;
    else if (*format != "csv")
      return UsageError("--format is csv or json");
  }
  long keyNumber = 0;
  if (const std::string* key = args.Option("key")) {
    char* end = nullptr;
    keyNumber = std::strtol(key->c_str(), &end, 10);
    if (key->empty() || *end != '\0' || keyNumber < 1) return UsageError("--key takes a key number from 1");
  }
  FileLook look;
  if (int rc = look.Open(path)) return ReportOpenError(path, rc);
  store::Container& file = look.container();
  std::string tableName, why;
  if (ChooseTable(file, args.Option("table"), &tableName, &why) != 0) {
    std::fprintf(stderr, "twl: %s: %s\n", path.c_str(), why.c_str());
    return kExitUsage;
  }
  std::unique_ptr<store::Table> table;
  if (int rc = store::FileErrorOf(store::Table::Open(file, tableName, nullptr, store::Table::OpenOptions{}, &table)))
    return ReportOpenError(path + " table " + TableNameText(tableName), rc);
  if (keyNumber > 0 && (static_cast<size_t>(keyNumber) > table->keyCount() ||
                        table->key(static_cast<size_t>(keyNumber - 1)).inMemory()))
    return UsageError("table " + TableNameText(tableName) + " has no stored key " + std::to_string(keyNumber));

  const store::TableDefinition& definition = table->definition();
  const std::vector<Column> columns = ColumnsOf(definition);
  std::string out;
  if (json) {
    out += "[\n";
  } else {
    for (size_t c = 0; c < columns.size(); ++c) out += (c ? "," : "") + CsvField(columns[c].label);
    out += "\n";
  }
  std::vector<uint8_t> image(table->recordLength()), content;
  const uint32_t total = table->RecordCount();
  uint64_t written = 0;
  int failures = 0;
  Progress progress("dump " + TableNameText(tableName), args.progress);
  auto emit = [&](const store::RecordNumber& record) {
    if (int rc = store::FileErrorOf(table->Fetch(record, image.data()))) {
      std::fprintf(stderr, "twl: %s: table %s record %s: error %d\n", path.c_str(), TableNameText(tableName).c_str(),
                   store::NumberText(record).c_str(), rc);
      ++failures;
      return;
    }
    if (json) out += written ? ",\n{" : "{";
    for (size_t c = 0; c < columns.size(); ++c) {
      bool number = false;
      std::string text;
      if (columns[c].field >= 0) {
        text = FieldText(definition.fields[static_cast<size_t>(columns[c].field)], image.data(),
                         table->recordLength(), &number);
      } else {
        size_t m = static_cast<size_t>(columns[c].memo);
        if (int rc = store::FileErrorOf(table->ReadMemo(record, m, &content))) {
          std::fprintf(stderr, "twl: %s: table %s record %s memo %zu: error %d\n", path.c_str(),
                       TableNameText(tableName).c_str(), store::NumberText(record).c_str(), m + 1, rc);
          ++failures;
          content.clear();
        }
        text = MemoText(definition.memos[m], content);
      }
      if (json)
        out += (c ? ", " : "") + JsonString(columns[c].label) + ": " + (number ? text : JsonString(text));
      else
        out += (c ? "," : "") + CsvField(text);
    }
    out += json ? "}" : "\n";
    ++written;
    if (out.size() > (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    if (written % 1024 == 0) progress.Update(total ? static_cast<int>(written * 100 / total) : 100);
  };

  if (keyNumber == 0) {
    store::RecordNumber from = store::MakeRecordNumber(0), found{};
    while (table->NextDataRecord(from, &found)) {
      emit(found);
      uint32_t next = store::RecordNumberValue(found) + 1;
      if (next == 0) break;
      from = store::MakeRecordNumber(next);
    }
  } else {
    const size_t k = static_cast<size_t>(keyNumber - 1);
    uint8_t prefix[5];
    std::memcpy(prefix, table->number().data(), 4);
    prefix[4] = static_cast<uint8_t>(k);
    store::Cursor cursor(table->keyTree(k));
    for (bool more = cursor.SeekGE(store::ByteView(prefix, 5)); more; more = cursor.Next()) {
      store::ByteView key = cursor.key();
      if (key.size() < 5 || std::memcmp(key.data(), prefix, 5) != 0) break;
      store::RecordNumber record{};
      if (cursor.data().size() != 4) {
        std::fprintf(stderr, "twl: %s: table %s key %zu: an entry is damaged\n", path.c_str(),
                     TableNameText(tableName).c_str(), k + 1);
        ++failures;
        continue;
      }
      std::memcpy(record.data(), cursor.data().data(), 4);
      emit(record);
    }
  }
  if (json) out += written ? "\n]\n" : "]\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  progress.Done();
  return failures ? kExitFaults : kExitSound;
}

}  // namespace pr::twl
