#include <cstdio>

#include "files/declaration_text.h"
#include "files/descriptors.h"
#include "files/drivers.h"
#include "store/definition_descriptors.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl info FILE\n"
    "\n"
    "Shows the header (lengths, change counter, last record number, root\n"
    "page), the regions with their page counts per size class, the pending-\n"
    "update area if any, and every table with its number, record count, keys\n"
    "(entries each) and definition as declaration text.  Read only.\n"
    "\n"
    "Exit: 0, or 2 for a usage or open error.\n";

void PrintHeader(const char* title, const store::FileHeader& header) {
  std::printf("%s\n", title);
  std::printf("  committed length     %u\n", header.committedLength);
  std::printf("  pending length       %u\n", header.pendingLength);
  std::printf("  change counter       %u\n", header.changeCounter);
  std::printf("  last record number   %u\n", store::RecordNumberValue(header.lastRecordNumber));
  std::printf("  root page            %d\n", header.rootReference);
  std::printf("  page area end        %u\n", header.PageAreaEnd());
}

}  // namespace

int CommandInfo(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 1) return UsageError("info takes one FILE");
  const std::string& path = args.positional[0];
  FileLook look;
  if (int rc = look.Open(path)) return ReportOpenError(path, rc);
  store::Container& file = look.container();
  std::printf("file %s, %llu bytes\n", path.c_str(), static_cast<unsigned long long>(look.fileSize()));
  if (look.emptyFile()) {
    std::printf("empty: no header written yet, no tables\n");
    return kExitSound;
  }
  const store::PendingAreaState& pending = look.pending();
  PrintHeader("header", look.diskHeader());
  if (pending.present) {
    std::printf("pending-update area [%u, %u): %s\n", pending.committedLength, pending.pendingLength,
                !pending.complete               ? "incomplete (will be discarded)"
                : pending.unfinishedTransaction ? "complete, transaction not committed (will be discarded)"
                                                : "complete (will be finished); shown below as read through it");
    if (pending.complete && !pending.unfinishedTransaction) PrintHeader("header in the pending area", file.header());
  }
  const store::FileHeader& header = file.header();
  std::printf("regions\n  class  start      end        pages\n");
  long total = 0;
  for (int i = 1; i <= store::kMaxClass; ++i) {
    int32_t pages = header.PagesInRegion(i);
    if (pages == 0) continue;
    total += pages;
    std::printf("  %5d  %-9d  %-9d  %d\n", i, header.regionStart[i], header.regionEnd[i], pages);
  }
  std::printf("  total pages %ld\n", total);

  std::vector<store::TableEntry> tables = store::ListTables(file);
  std::printf("tables: %zu\n", tables.size());
  for (const store::TableEntry& entry : tables) {
    std::printf("\ntable %s, number %s\n", TableNameText(entry.name).c_str(), store::NumberText(entry.number).c_str());
    std::unique_ptr<store::Table> table;
    int rc = store::FileErrorOf(store::Table::Open(file, entry.name, nullptr, store::Table::OpenOptions{}, &table));
    if (rc != 0) {
      std::printf("  its definition cannot be read: error %d\n", rc);
      continue;
    }
    std::printf("  records %u, record length %u, %s set\n", table->RecordCount(), table->recordLength(),
                table->oem() ? "OEM" : "ANSI");
    const store::TableDefinition& definition = table->definition();
    for (size_t k = 0; k < table->keyCount(); ++k) {
      const store::KeyDefinition& key = definition.keys[k];
      std::printf("  key %zu %s: %u entries%s%s%s\n", k + 1, key.label.c_str(),
                  table->ReadCounters(static_cast<uint8_t>(k)).count, table->key(k).dup() ? ", DUP" : "",
                  table->key(k).opt() ? ", OPT" : "", table->key(k).nocase() ? ", NOCASE" : "");
    }
    files::FileDescriptor descriptor;
    descriptor.label = entry.name;
    descriptor.driver = files::DriverRecordFor("TARNWELL");
    store::BuiltDescriptors built(definition);
    built.AttachTo(&descriptor);
    std::printf("  definition:\n");
    std::string text = files::DeclarationText(descriptor);
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::printf("    %s\n", text.substr(at, end - at).c_str());
      at = end + 1;
    }
  }
  return kExitSound;
}

}  // namespace pr::twl
