#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "files/errors.h"
#include "platform/kernel.h"
#include "store/collation_state.h"
#include "tools/twl/twl.h"

namespace pr::twl {

const std::string* Arguments::Option(std::string_view name) const {
  for (const auto& [key, value] : options)
    if (key == name) return &value;
  return nullptr;
}

bool ParseArguments(int argc, char** argv, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags, Arguments* out) {
  auto has = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      out->help = true;
      continue;
    }
    if (arg == "--progress") {
      out->progress = true;
      continue;
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      out->positional.push_back(arg);
      continue;
    }
    std::string name = arg.substr(2), value;
    size_t equals = name.find('=');
    bool inlineValue = equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (has(flags, name) && !inlineValue) {
      out->options.emplace_back(name, "");
      continue;
    }
    if (!has(valued, name)) {
      std::fprintf(stderr, "twl: unknown option --%s\n", name.c_str());
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "twl: option --%s needs a value\n", name.c_str());
        return false;
      }
      value = argv[++i];
    }
    out->options.emplace_back(name, value);
  }
  return true;
}

int ReportOpenError(const std::string& path, int code) {
  std::fprintf(stderr, "twl: %s: error %d: %s\n", path.c_str(), code, files::MessageText(code).c_str());
  return kExitUsage;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "twl: %s (see --help)\n", message.c_str());
  return kExitUsage;
}

std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

bool TableNameFromText(std::string_view utf8, std::string* name) {
  std::string ansi(Utf8ToAnsi(utf8.data(), utf8.size(), nullptr, 0) + 1, '\0');
  ansi.resize(Utf8ToAnsi(utf8.data(), utf8.size(), ansi.data(), ansi.size()));
  // Each character the set lacks (and each malformed sequence) becomes "?".
  if (std::count(ansi.begin(), ansi.end(), '?') != std::count(utf8.begin(), utf8.end(), '?')) return false;
  store::CollationState::Current().FoldCase(reinterpret_cast<uint8_t*>(ansi.data()), ansi.size());
  *name = std::move(ansi);
  return true;
}

std::string TableNameText(std::string_view stored) {
  std::string text(AnsiToUtf8(stored.data(), stored.size(), nullptr, 0) + 1, '\0');
  text.resize(AnsiToUtf8(stored.data(), stored.size(), text.data(), text.size()));
  return text;
}

// ------------------------------------------------------------------ FileLook

FileLook::~FileLook() {
  if (container_) container_->SetReadState(false);
  container_.reset();  // releases its locks through the hooks
  hooks_.reset();
  if (handle_ != nullptr) CloseHandle(handle_);
}

int FileLook::Open(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return ERROR_FILE_NOT_FOUND;
  if (!S_ISREG(info.st_mode)) return ERROR_ACCESS_DENIED;
  fileSize_ = static_cast<uint64_t>(info.st_size);
  SetLastError(0);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return static_cast<int>(store::MapOpenError(error != 0 ? error : ERROR_ACCESS_DENIED));
  }
  handle_ = handle;

  hooks_ = std::make_unique<store::InspectHooks>(handle_, path);
  store::ContainerOptions options;
  options.readOnly = true;
  container_ = std::make_unique<store::Container>(handle_, path, options);
  container_->SetHooks(hooks_.get());
  // The reader slot is taken by this refresh and kept until the look ends.
  container_->SetReadState(true);
  int status = container_->RefreshHeader();
  if (status == 1) return files::err::InvalidDataFile;
  if (status != 0) return static_cast<int>(store::MapLockError(container_->LastError()));

  // The header as it stands at offset 0, read under the same slot.
  emptyFile_ = fileSize_ == 0;
  if (!emptyFile_) {
    uint8_t raw[store::kHeaderSize];
    DWORD got = 0;
    LONG high = 0;
    if (SetFilePointer(handle_, 0, &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER && GetLastError() != 0)
      return files::err::InvalidDataFile;
    if (!ReadFile(handle_, raw, store::kHeaderSize, &got, nullptr) || got != store::kHeaderSize)
      return files::err::InvalidDataFile;
    // A header block of zeros that the refresh above accepted is a file
    // never written (a first update cut short before its header): as new
    // and empty as a file of no bytes.  Anything else must parse.
    if (std::all_of(raw, raw + sizeof raw, [](uint8_t b) { return b == 0; }))
      emptyFile_ = true;
    else if (!diskHeader_.Parse(raw))
      return files::err::InvalidDataFile;
  }
  if (emptyFile_) diskHeader_ = container_->header();
  pending_.committedLength = diskHeader_.committedLength;
  pending_.pendingLength = diskHeader_.pendingLength;
  pending_.present = diskHeader_.committedLength != diskHeader_.pendingLength;
  pending_.complete = pending_.present && hooks_->areaComplete;
  pending_.unfinishedTransaction = pending_.complete && hooks_->unfinishedTransaction;
  return 0;
}

int ChooseTable(const store::Container& file, const std::string* requested, std::string* table, std::string* why) {
  std::vector<store::TableEntry> tables = store::ListTables(file);
  if (requested != nullptr) {
    if (!TableNameFromText(*requested, table)) {
      *why = "the table name " + *requested + " holds a character that Windows-1250 lacks";
      return files::err::FileNotFound;
    }
    for (const auto& entry : tables)
      if (entry.name == *table) return 0;
    *why = "the file has no table " + TableNameText(*table);
    return files::err::FileNotFound;
  }
  if (tables.size() == 1) {
    *table = tables[0].name;
    return 0;
  }
  *why = tables.empty() ? "the file has no tables" : "the file has several tables: name one with --table";
  return files::err::FileNotFound;
}

// ------------------------------------------------------------------ Progress

namespace {
uint64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}
}  // namespace

Progress::Progress(std::string label, bool forced)
    : label_(std::move(label)), forced_(forced), terminal_(isatty(STDERR_FILENO) != 0), start_(NowMs()) {}

Progress::~Progress() { Done(); }

void Progress::Update(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == last_) return;
  if (!terminal_ && !forced_) return;
  if (!forced_ && !shown_ && NowMs() - start_ < 1000) return;
  last_ = percent;
  shown_ = true;
  if (!terminal_) {
    std::fprintf(stderr, "%s %d%%\n", label_.c_str(), percent);
    return;
  }
  constexpr int kWidth = 40;
  int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void Progress::Done() {
  if (shown_ && terminal_) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 48, "");
    std::fflush(stderr);
  }
  shown_ = false;
}

}  // namespace pr::twl
