#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "files/errors.h"
#include "store/physical.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl build FILE [--table NAME] [--key N] [--progress]\n"
    "\n"
    "Rebuilds the entries of key N (from 1, as `twl info` numbers them) or of\n"
    "every key of the table from its data records, with a progress bar.  The\n"
    "whole build is one update: Ctrl+C cancels it (error 93) and leaves the\n"
    "file as it was.  Keys declared INDEX live only in memory and are skipped.\n"
    "A key without DUP that two records would duplicate refuses the build\n"
    "(error 40) and the file is left as it was.\n"
    "\n"
    "Exit: 0 built, 1 refused or cancelled, 2 usage or open error.\n";

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

int Refuse(const std::string& path, int code, const std::string& what) {
  std::fprintf(stderr, "twl: %s: %s: error %d: %s\n", path.c_str(), what.c_str(), code,
               files::MessageText(code).c_str());
  return kExitFaults;
}

}  // namespace

int CommandBuild(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 1) return UsageError("build takes one FILE");
  const std::string& path = args.positional[0];
  long keyNumber = 0;
  if (const std::string* key = args.Option("key")) {
    char* end = nullptr;
    keyNumber = std::strtol(key->c_str(), &end, 10);
    if (key->empty() || *end != '\0' || keyNumber < 1) return UsageError("--key takes a key number from 1");
  }
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return ReportOpenError(path, files::err::FileNotFound);

  store::PhysicalFile* physical = nullptr;
  const store::Status opened = store::OpenPhysicalFile(path, store::kShareDenyNone | 0x02, "", false, &physical);
  if (!opened.ok()) return ReportOpenError(path, store::FileErrorOf(opened));
  struct Closer {
    store::PhysicalFile* file;
    ~Closer() { store::ClosePhysicalFile(file); }
  } closer{physical};

  if (store::Status begun = physical->BeginChange(); !begun.ok())
    return ReportOpenError(path, store::FileErrorOf(begun));
  store::Container& file = physical->container();
  std::string tableName, why;
  if (ChooseTable(file, args.Option("table"), &tableName, &why) != 0) {
    physical->DiscardChanges();
    (void)physical->Finish();
    std::fprintf(stderr, "twl: %s: %s\n", path.c_str(), why.c_str());
    return kExitUsage;
  }
  std::unique_ptr<store::Table> table;
  if (int code = store::FileErrorOf(store::Table::Open(file, tableName, nullptr, store::Table::OpenOptions{}, &table))) {
    physical->DiscardChanges();
    (void)physical->Finish();
    return Refuse(path, code, "table " + TableNameText(tableName));
  }
  std::vector<size_t> keys;
  if (keyNumber > 0) {
    if (static_cast<size_t>(keyNumber) > table->keyCount() ||
        table->key(static_cast<size_t>(keyNumber - 1)).inMemory()) {
      physical->DiscardChanges();
      (void)physical->Finish();
      return UsageError("table " + TableNameText(tableName) + " has no stored key " + std::to_string(keyNumber));
    }
    keys.push_back(static_cast<size_t>(keyNumber - 1));
  } else {
    for (size_t k = 0; k < table->keyCount(); ++k) keys.push_back(k);
  }
  std::erase_if(keys, [&](size_t k) { return table->key(k).inMemory(); });

  g_interrupted = 0;
  struct sigaction action = {}, previous = {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);

  Progress progress("build " + TableNameText(tableName), args.progress);
  int result = 0;
  size_t failedKey = 0;
  for (size_t i = 0; i < keys.size() && result == 0; ++i) {
    store::Table::BuildHooks hooks;
    hooks.fullBuild = true;
    hooks.progress = [&](int percent) {
      progress.Update(static_cast<int>((i * 100 + static_cast<size_t>(percent)) / keys.size()));
      return g_interrupted == 0;
    };
    // The build stays one update: nothing reaches the file before it ends,
    // so a cancel or a refusal can drop it whole.
    hooks.writeUpdate = [] { return store::Status::Ok(); };
    result = store::FileErrorOf(table->BuildKey(keys[i], hooks));
    failedKey = keys[i];
  }
  if (result == 0 && g_interrupted) result = files::err::BuildCancelled;
  if (result == 0) progress.Update(100);
  progress.Done();
  sigaction(SIGINT, &previous, nullptr);

  table.reset();
  if (result != 0) {
    physical->DiscardChanges();
    (void)physical->Finish();
    return Refuse(path, result,
                  "key " + std::to_string(failedKey + 1) + " of " + TableNameText(tableName) + " not built");
  }
  if (store::Status written = physical->Finish(); !written.ok())
    return Refuse(path, files::err::FileSystemError,
                  "writing the built keys (system error " + std::to_string(written.code()) + ")");
  std::printf("%s: built %zu key%s of table %s\n", path.c_str(), keys.size(), keys.size() == 1 ? "" : "s",
              TableNameText(tableName).c_str());
  return kExitSound;
}

}  // namespace pr::twl
