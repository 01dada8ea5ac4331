// twl: inspect, verify, export, import and repair keyed files.
//
// Every command reads the file through the store's own classes (Container,
// Table); none parses the format a second time.  Exit codes:
//   0  the file is sound / the command did what it was asked
//   1  faults were found, or the command was refused (a bad row, a cancelled
//      build); the file is left as it was
//   2  usage error, or the file could not be opened (error code and text)
//
// Thread safety: the tool is single-threaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/inspect.h"
#include "store/table.h"

namespace pr::twl {

inline constexpr int kExitSound = 0;
inline constexpr int kExitFaults = 1;
inline constexpr int kExitUsage = 2;

// The command line after the command name: positional arguments and
// "--name value" / "--name=value" / "--flag" options.
struct Arguments {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // name without "--"
  bool help = false;
  bool progress = false;  // --progress: show progress even off a terminal

  // The value of option `name`, or null when not given.
  const std::string* Option(std::string_view name) const;
};

// Splits argv; `valued` names the options that take a value.  False with a
// message on stderr for an unknown option or a missing value.
bool ParseArguments(int argc, char** argv, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, Arguments* out);

// "twl: PATH: error 36: Invalid data file" on stderr; returns kExitUsage.
int ReportOpenError(const std::string& path, int code);
// "twl: MESSAGE" on stderr; returns kExitUsage.
int UsageError(const std::string& message);

// A read-only, deny-none look at a keyed file: it holds one reader slot for
// its whole life, so the tree it reads is one committed state even while
// other programs write (they wait for the slot to be freed).  Never writes.
class FileLook {
 public:
  FileLook() = default;
  ~FileLook();
  FileLook(const FileLook&) = delete;
  FileLook& operator=(const FileLook&) = delete;

  // 0, or an error code of the catalogue: 2 no such file, 5 access denied,
  // 36 not a keyed file of this format (or a damaged header).
  int Open(const std::string& path);

  store::Container& container() { return *container_; }
  // The header at offset 0 as it is on disk (before any pending area).
  const store::FileHeader& diskHeader() const { return diskHeader_; }
  const store::PendingAreaState& pending() const { return pending_; }
  uint64_t fileSize() const { return fileSize_; }
  bool emptyFile() const { return emptyFile_; }

 private:
  HANDLE handle_ = nullptr;
  std::unique_ptr<store::InspectHooks> hooks_;
  std::unique_ptr<store::Container> container_;
  store::FileHeader diskHeader_;
  store::PendingAreaState pending_;
  uint64_t fileSize_ = 0;
  bool emptyFile_ = false;
};

// Picks the table a command works on: `--table NAME` (upper-cased), or the
// only table of the file.  0, 2 when the name is absent; `why` explains.
int ChooseTable(const store::Container& file, const std::string* requested, std::string* table,
                std::string* why);

// Upper case of ASCII letters (table names are stored upper case).
std::string UpperCase(std::string_view text);

// Table names are stored in the Windows-1250 set, upper-cased with the
// runtime's case table; the command line and the output are UTF-8.
// TableNameFromText converts a name given on the command line (false when it
// holds a character the set lacks or is not UTF-8); TableNameText gives a
// stored name for printing.
bool TableNameFromText(std::string_view utf8, std::string* name);
std::string TableNameText(std::string_view stored);

// Progress shown on standard error: a bar on a terminal once the work has
// taken a second (or at once with --progress), plain "LABEL N%" lines when
// --progress is given and standard error is not a terminal.
class Progress {
 public:
  Progress(std::string label, bool forced);
  ~Progress();
  void Update(int percent);
  // Clears the bar's line.
  void Done();

 private:
  std::string label_;
  bool forced_;
  bool terminal_;
  bool shown_ = false;
  int last_ = -1;
  uint64_t start_;
};

// The commands; each returns the exit code.
int CommandInfo(const Arguments& args);
int CommandVerify(const Arguments& args);
int CommandDump(const Arguments& args);
int CommandImport(const Arguments& args);
int CommandBuild(const Arguments& args);
int CommandRecover(const Arguments& args);
int CommandDriverString(const Arguments& args);
int CommandPickTable(const Arguments& args);

}  // namespace pr::twl
