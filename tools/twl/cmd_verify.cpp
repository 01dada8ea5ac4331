#include <cstdio>

#include "store/container_verify.h"
#include "store/fatal_error.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl verify FILE [--strict] [--progress]\n"
    "\n"
    "Reads every page and record of FILE and lists each fault found with the\n"
    "page, table, key or record it concerns: tree order within and across\n"
    "pages, node entries against their children, pages inside the region of\n"
    "their size class with no slot used twice and none unreachable, the page\n"
    "area against the header, record and key counters against what they\n"
    "count, every key entry against the data record it points at (and every\n"
    "record against its entries), memo pieces, and the pending-update area.\n"
    "\n"
    "The file is opened read only, deny none, so verify can run beside\n"
    "working programs; it holds one reader slot while it reads, so it sees\n"
    "one committed state.  It never writes.\n"
    "\n"
    "Pages are checked against the rules of the format, so files that other\n"
    "programs packed differently (explicit lengths, shorter shared prefixes,\n"
    "no compression) are sound.  --strict adds a note for each page that this\n"
    "module would store in another size class; notes are no faults.\n"
    "\n"
    "A complete pending-update area is reported but is no fault (every reader\n"
    "sees the update it holds); an incomplete one is a fault: `twl recover`\n"
    "discards it.\n"
    "\n"
    "Exit: 0 sound, 1 faults found, 2 usage or open error.\n";

}  // namespace

int CommandVerify(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 1) return UsageError("verify takes one FILE");
  const std::string& path = args.positional[0];
  FileLook look;
  if (int rc = look.Open(path)) return ReportOpenError(path, rc);

  std::vector<store::Fault> faults;
  std::vector<std::string> notes;
  const store::PendingAreaState& pending = look.pending();
  const std::string area = "pending-update area [" + std::to_string(pending.committedLength) + ", " +
                           std::to_string(pending.pendingLength) + ")";
  if (pending.present && !pending.complete) {
    faults.push_back({area, "incomplete: the update it was to hold is lost; readers see the last committed "
                            "state, and `twl recover` (or the next writer) discards the area"});
  } else if (pending.unfinishedTransaction) {
    notes.push_back(area + ": complete, but its transaction never reached its point of commit; the next "
                           "writer discards it, and this check read the last committed state");
  } else if (pending.present) {
    notes.push_back(area + ": complete; this check read the tree through it, and the next writer (or `twl "
                           "recover`) finishes it");
  }

  store::Container& file = look.container();
  const store::FileHeader& header = file.header();
  if (look.emptyFile() && look.fileSize() > 0)
    notes.push_back("header block all zeros: a new file never written (a first update was cut short before its "
                    "header); the " + std::to_string(look.fileSize()) + " bytes hold nothing committed");
  if (!look.emptyFile()) {
    if (!pending.present && header.committedLength != header.PageAreaEnd())
      faults.push_back({"header", "committed length " + std::to_string(header.committedLength) +
                                      " does not match the end of the page area " +
                                      std::to_string(header.PageAreaEnd())});
    if (look.fileSize() < header.PageAreaEnd())
      faults.push_back({"file", std::to_string(look.fileSize()) + " bytes, shorter than its page area (" +
                                    std::to_string(header.PageAreaEnd()) + " bytes)"});
  }

  store::VerifyReport tree;
  bool treeRead = true;
  store::VerifyOptions options;
  options.writingRules = args.Option("strict") ? store::VerifyOptions::WritingRules::kNote
                                               : store::VerifyOptions::WritingRules::kIgnore;
  try {
    tree = store::VerifyContainer(file, options);
    for (const std::string& problem : tree.problems) faults.push_back({"page tree", problem});
    for (const std::string& note : tree.notes) notes.push_back("writing rule: " + note);
    if (tree.notesLeftOut > 0)
      notes.push_back("writing rule: " + std::to_string(tree.notesLeftOut) + " more pages are stored in another class");
  } catch (const store::DriverError& error) {
    treeRead = false;
    faults.push_back({"page tree", store::DriverErrorText(error.number()) + " while reading its pages"});
  }
  size_t tables = 0;
  if (treeRead) {
    Progress progress("verify", args.progress);
    try {
      tables = store::ListTables(file).size();
      store::VerifyTables(file, &faults, [&](uint64_t checked) {
        progress.Update(tree.records ? static_cast<int>(checked * 100 / tree.records) : 100);
      });
    } catch (const store::DriverError& error) {
      faults.push_back({"records", store::DriverErrorText(error.number()) + " while reading them"});
    }
    progress.Done();
  }

  for (const std::string& note : notes) std::printf("%s: %s\n", path.c_str(), note.c_str());
  for (const store::Fault& fault : faults)
    std::printf("%s: %s: %s\n", path.c_str(), fault.where.c_str(), fault.what.c_str());
  if (!faults.empty()) {
    std::printf("%s: %zu fault%s found\n", path.c_str(), faults.size(), faults.size() == 1 ? "" : "s");
    return kExitFaults;
  }
  std::printf("%s: sound (%zu table%s, %llu records in %llu page%s, %d level%s)\n", path.c_str(), tables,
              tables == 1 ? "" : "s", static_cast<unsigned long long>(tree.records),
              static_cast<unsigned long long>(tree.pages), tree.pages == 1 ? "" : "s", tree.levels,
              tree.levels == 1 ? "" : "s");
  return kExitSound;
}

}  // namespace pr::twl
