#include <sys/stat.h>

#include <cstdio>

#include "store/physical.h"
#include "tools/twl/twl.h"

namespace pr::twl {

namespace {

const char kHelp[] =
    "usage: twl recover FILE\n"
    "\n"
    "Settles an update that was cut short.  A complete pending-update area is\n"
    "finished (its pages are copied home and the header taken from it); an\n"
    "incomplete one, or one whose transaction never reached its point of\n"
    "commit, is discarded and the file keeps its last committed state.  Says\n"
    "which and why.  A file without a pending area is left alone.\n"
    "\n"
    "Exit: 0 settled (or nothing to do), 1 the area could not be settled,\n"
    "2 usage or open error.\n";

}  // namespace

int CommandRecover(const Arguments& args) {
  if (args.help) {
    std::fputs(kHelp, stdout);
    return kExitSound;
  }
  if (args.positional.size() != 1) return UsageError("recover takes one FILE");
  const std::string& path = args.positional[0];
  store::PendingAreaState before;
  {
    FileLook look;
    if (int rc = look.Open(path)) return ReportOpenError(path, rc);
    before = look.pending();
  }
  if (!before.present) {
    std::printf("%s: no pending-update area: the file is settled, nothing to do\n", path.c_str());
    return kExitSound;
  }
  // Opening for writing settles the area exactly as any writer would.
  store::PhysicalFile* file = nullptr;
  DWORD rc = store::OpenPhysicalFile(path, store::kShareDenyNone | 0x02, "", false, &file);
  if (rc != 0) return ReportOpenError(path, static_cast<int>(rc));
  store::ClosePhysicalFile(file);

  FileLook after;
  if (int code = after.Open(path)) return ReportOpenError(path, code);
  if (after.pending().present) {
    std::printf("%s: the pending-update area [%u, %u) is still there: another program may be writing\n",
                path.c_str(), after.pending().committedLength, after.pending().pendingLength);
    return kExitFaults;
  }
  const unsigned bytes = before.pendingLength - before.committedLength;
  if (!before.complete)
    std::printf("%s: discarded the pending-update area (%u bytes): it was incomplete, the update was cut short "
                "before all of it was written; the file keeps its last committed state\n",
                path.c_str(), bytes);
  else if (before.unfinishedTransaction)
    std::printf("%s: discarded the pending-update area (%u bytes): its transaction never reached its point of "
                "commit (its number is still in the transaction control file); the file keeps its last "
                "committed state\n",
                path.c_str(), bytes);
  else
    std::printf("%s: finished the pending-update area (%u bytes): it was complete, so the update it holds is "
                "now in place\n",
                path.c_str(), bytes);
  return kExitSound;
}

}  // namespace pr::twl
