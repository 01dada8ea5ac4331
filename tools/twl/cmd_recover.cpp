#include <sys/stat.h>

#include <cstdio>

#include "store/physical.h"
#include "store/table.h"
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
    "which and why.  A file without a pending area is left alone.  A file whose\n"
    "header block was never written (a first update cut short) holds nothing\n"
    "committed and opens as a new, empty file; it is left as it is.\n"
    "\n"
    "Exit: 0 settled (or nothing to do), 1 the area could not be settled,\n"
    "2 usage or open error.\n";

// The header block of `path` is all zeros and the store takes the file for a
// new one (its first update was cut short before it wrote the header): 1.
// 0 when it is something else, -1 when it cannot be read.
int HeaderNeverWritten(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  uint8_t raw[store::kHeaderSize] = {};
  DWORD got = 0;
  OVERLAPPED at{};
  bool zeros = ReadFile(handle, raw, sizeof raw, &got, &at) && got == sizeof raw;
  for (uint8_t b : raw) zeros = zeros && b == 0;
  int answer = 0;
  if (zeros) {
    store::Container look(handle, path, store::ContainerOptions{.ownerPassword = {}, .readOnly = true});
    answer = look.RefreshHeader() == 0 && look.header().EndReference() == 0 ? 1 : 0;
  }
  CloseHandle(handle);
  return answer;
}

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
    if (int rc = look.Open(path)) {
      if (rc != files::err::InvalidDataFile || HeaderNeverWritten(path) != 1) return ReportOpenError(path, rc);
      // Nothing to settle.  The header is left to the file's next update:
      // only that program knows whether the file is enciphered.
      std::printf("%s: the header block was never written (a first update was cut short before it): the file "
                  "holds nothing committed; every program opens it as a new, empty file, and its first update "
                  "writes the header\n",
                  path.c_str());
      return kExitSound;
    }
    before = look.pending();
  }
  if (!before.present) {
    std::printf("%s: no pending-update area: the file is settled, nothing to do\n", path.c_str());
    return kExitSound;
  }
  // Opening for writing settles the area exactly as any writer would.
  store::PhysicalFile* file = nullptr;
  const store::Status opened = store::OpenPhysicalFile(path, store::kShareDenyNone | 0x02, "", false, &file);
  if (!opened.ok()) return ReportOpenError(path, store::FileErrorOf(opened));
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
