#include "store/transaction.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "store/physical.h"
#include "store/status.h"

namespace pr::store {
namespace {

struct TransactionContext {
  bool active = false;
  DWORD ownerThread = 0;
  std::vector<PhysicalFile*> files;
  std::vector<std::string> defaultControlFiles;
};

TransactionContext g_transaction;
std::string g_explicitControlFile;
bool g_hasExplicitControlFile = false;
CommitStageHook g_commitStageHook = nullptr;

constexpr uint8_t kMarkerKey[1] = {0xFF};
constexpr uint32_t kControlFileMode = 0x42;  // read and write, deny none

void ControlKey(uint32_t number, uint8_t out[4]) {
  out[0] = uint8_t(number >> 24);
  out[1] = uint8_t(number >> 16);
  out[2] = uint8_t(number >> 8);
  out[3] = uint8_t(number);
}

// An open transaction control file: its own handle, locks and container.
class ControlFile {
 public:
  ~ControlFile() {
    if (container) {
      container->SetReadState(false);
      if (container->updateOpen()) container->Discard();
    }
    container.reset();
    locks.reset();
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }

  // Ok or the system error (a sharing violation is access denied).
  Status Open(const std::string& fileName, bool readOnly) {
    name = fileName;
    uint32_t mode = readOnly ? 0x40u : kControlFileMode;
    SetLastError(0);
    handle = CreateFileA(name.c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, readOnly ? OPEN_EXISTING : OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      handle = nullptr;
      return Status::System(MapOpenError(error != 0 ? error : ERROR_ACCESS_DENIED));
    }
    locks = std::make_unique<FileLocks>(handle, mode);
    ContainerOptions options;
    options.readOnly = readOnly;
    container = std::make_unique<Container>(handle, name, options);
    container->SetHooks(locks.get());
    return Status::Ok();
  }

  // Reads whether `number` is present, under a reader slot.  A header that
  // cannot be read, or is no keyed file's, is InvalidDataFile.
  Status Contains(uint32_t number, bool* present) {
    container->SetReadState(true);
    if (container->RefreshHeader() != 0) {
      container->SetReadState(false);
      return Status::File(err::InvalidDataFile);
    }
    uint8_t key[4];
    ControlKey(number, key);
    *present = container->Find(ByteView(key, 4), nullptr);
    container->SetReadState(false);
    return Status::Ok();
  }

  // Adds `number` as one complete update.  *taken is set when the number is
  // present already (then nothing changes).
  Status Add(uint32_t number, bool* taken) {
    *taken = false;
    if (Status begun = UpdateStatus(container->BeginUpdate()); !begun.ok()) return begun;
    uint8_t key[4];
    ControlKey(number, key);
    if (!container->Insert(ByteView(key, 4), ByteView())) {
      *taken = true;
      (void)container->WriteUpdate();  // nothing changed: closes the update
      return Status::Ok();
    }
    return WrittenStatus(container->WriteUpdate());
  }

  Status Remove(uint32_t number) {
    if (Status begun = UpdateStatus(container->BeginUpdate()); !begun.ok()) return begun;
    uint8_t key[4];
    ControlKey(number, key);
    container->Erase(ByteView(key, 4));
    return WrittenStatus(container->WriteUpdate());
  }

  std::string name;
  HANDLE handle = nullptr;
  std::unique_ptr<FileLocks> locks;
  std::unique_ptr<Container> container;
};

void EndTransaction() {
  std::vector<PhysicalFile*> files = std::move(g_transaction.files);
  g_transaction = TransactionContext{};
  for (PhysicalFile* file : files) {
    file->SetInTransaction(false);
    ClosePhysicalFile(file);
  }
}

void DiscardFile(PhysicalFile* file) {
  Container& container = file->container();
  container.SetReadState(false);
  container.Discard();
  file->ReleaseProtocolLocks();
}

// Steps 1-2: a number that every control file has taken.  On success the
// files stay open in *opened.
Status TakeTransactionNumber(const std::vector<std::string>& names, uint32_t* number,
                             std::vector<std::unique_ptr<ControlFile>>* opened) {
  uint32_t candidate = TransactionNumberNow();
  for (int round = 0; round < 1000; ++round, ++candidate) {
    opened->clear();
    bool taken = false;
    for (const std::string& name : names) {
      auto control = std::make_unique<ControlFile>();
      // Add reads the header under the control file's update lock: a read
      // without it could meet another program's update half written.
      Status status = control->Open(name, /*readOnly=*/false);
      if (status.ok()) status = control->Add(candidate, &taken);
      if (!status.ok()) {
        // Take back the number from the files that already hold it.
        for (auto& done : *opened) (void)done->Remove(candidate);
        opened->clear();
        return status;
      }
      opened->push_back(std::move(control));
      if (taken) break;
    }
    if (!taken) {
      *number = candidate;
      return Status::Ok();
    }
    // The number is in use: take it back where it was added, try the next.
    opened->back().reset();
    opened->pop_back();
    for (auto& done : *opened) (void)done->Remove(candidate);
  }
  opened->clear();
  return Status::System(ERROR_BUSY);
}

// The one control file of a commit.  A transaction has exactly one point of
// commit, the deletion of its number from one control file, so every data
// file's marker names the same file: the explicit one, or else the default
// control file of the first data file's directory.  Files of that directory
// carry the placeholder for it, as they always have; a file in another
// directory names it by its full path (a marker may name any control file).
struct CommitControl {
  std::string name;          // as opened by this program
  std::string fullName;      // as written into markers outside its directory
  bool isDefault = false;
};

std::string FullPathOf(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return name;
  if (name.size() > 1 && name[1] == ':') return name;  // a drive letter
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return name;
  return std::string(cwd) + "/" + name;
}

CommitControl ChooseControlFile() {
  CommitControl control;
  if (g_hasExplicitControlFile) {
    control.name = control.fullName = g_explicitControlFile;
    return control;
  }
  control.isDefault = true;
  control.name = g_transaction.defaultControlFiles.empty() ? std::string(kDefaultControlFileName)
                                                           : g_transaction.defaultControlFiles.front();
  control.fullName = FullPathOf(control.name);
  return control;
}

std::vector<uint8_t> MarkerData(uint32_t number, const CommitControl& control, const PhysicalFile* file) {
  std::string name = control.fullName;
  if (control.isDefault && DefaultControlFileFor(file->name()) == control.name) name = kDefaultControlPlaceholder;
  std::vector<uint8_t> data(4 + name.size() + 1, 0);
  data[0] = uint8_t(number);
  data[1] = uint8_t(number >> 8);
  data[2] = uint8_t(number >> 16);
  data[3] = uint8_t(number >> 24);
  std::memcpy(data.data() + 4, name.data(), name.size());
  return data;
}

}  // namespace

void SetTransactionControlFile(const std::string& name) {
  g_explicitControlFile = name;
  g_hasExplicitControlFile = true;
}

const std::string& TransactionControlFile() { return g_explicitControlFile; }

std::string DefaultControlFileFor(const std::string& dataFile) {
  size_t slash = dataFile.find_last_of("/\\");
  if (slash == std::string::npos) return kDefaultControlFileName;
  return dataFile.substr(0, slash + 1) + kDefaultControlFileName;
}

uint32_t TransactionNumberNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  uint32_t value = (now.wYear % 100) * 12u + (now.wMonth - 1u);
  value = value * 31u + (now.wDay - 1u);
  value = value * 24u + now.wHour;
  value = value * 60u + now.wMinute;
  value = value * 60u + now.wSecond;
  return value * 10u + now.wMilliseconds / 100u;  // < 2^32 for every year of a century
}

bool TransactionActive() { return g_transaction.active; }

DWORD TransactionOwnerThread() { return g_transaction.active ? g_transaction.ownerThread : 0; }

bool InTransaction(const PhysicalFile* file) {
  return std::find(g_transaction.files.begin(), g_transaction.files.end(), file) != g_transaction.files.end();
}

Status TransactionLogout(PhysicalFile* file) {
  if (g_transaction.active && g_transaction.ownerThread != GetCurrentThreadId())
    return Status::File(err::LogoutAlreadyActive);
  if (!g_transaction.active) {
    g_transaction.active = true;
    g_transaction.ownerThread = GetCurrentThreadId();
  }
  if (InTransaction(file)) return Status::Ok();
  // Changes made before the transaction began are written now, so the
  // transaction holds only its own.
  if (Status written = file->Finish(); !written.ok()) return written;
  file->AddUse();
  file->SetInTransaction(true);
  g_transaction.files.push_back(file);
  if (!g_hasExplicitControlFile) {
    std::string control = DefaultControlFileFor(file->name());
    auto& list = g_transaction.defaultControlFiles;
    if (std::find(list.begin(), list.end(), control) == list.end() && list.size() < kMaxDefaultControlFiles)
      list.push_back(control);
  }
  return Status::Ok();
}

void TransactionRollback() {
  for (PhysicalFile* file : g_transaction.files) DiscardFile(file);
  EndTransaction();
}

Status TransactionCommit() {
  std::vector<PhysicalFile*> changed;
  for (PhysicalFile* file : g_transaction.files)
    if (file->container().HasChanges()) changed.push_back(file);
  for (PhysicalFile* file : g_transaction.files) file->container().SetReadState(false);

  if (changed.empty()) {
    for (PhysicalFile* file : g_transaction.files)
      if (file->container().updateOpen()) (void)file->container().WriteUpdate();
    EndTransaction();
    return Status::Ok();
  }
  if (changed.size() == 1) {
    DWORD error = changed.front()->container().WriteUpdate();
    if (error != 0) changed.front()->container().Discard();
    for (PhysicalFile* file : g_transaction.files)
      if (file != changed.front() && file->container().updateOpen()) (void)file->container().WriteUpdate();
    EndTransaction();
    return WrittenStatus(error);
  }

  const CommitControl commitControl = ChooseControlFile();
  const std::vector<std::string> controlNames{commitControl.name};

  uint32_t number = 0;
  std::vector<std::unique_ptr<ControlFile>> controls;
  if (Status taken = TakeTransactionNumber(controlNames, &number, &controls); !taken.ok()) {
    TransactionRollback();
    return taken;
  }

  // Step 3: markers and the first phase of every changed file.
  std::vector<PhysicalFile*> written;
  DWORD error = 0;
  for (PhysicalFile* file : changed) {
    const std::vector<uint8_t> marker = MarkerData(number, commitControl, file);
    Container& container = file->container();
    container.Put(ByteView(kMarkerKey, 1), ByteView(marker.data(), marker.size()));
    error = container.WriteUpdatePhaseOne();
    if (error != 0) break;
    written.push_back(file);
  }
  if (error != 0) {
    for (PhysicalFile* file : written) (void)file->container().DropPendingArea();
    for (auto& control : controls) (void)control->Remove(number);
    controls.clear();
    TransactionRollback();
    return WrittenStatus(error);
  }

  if (g_commitStageHook) g_commitStageHook(CommitStage::kBeforePointOfCommit);
  // Step 4: the point of commit.
  Status controlError;
  for (auto& control : controls) {
    Status removed = control->Remove(number);
    if (controlError.ok()) controlError = removed;
  }
  controls.clear();
  if (!controlError.ok()) {
    // The number may still stand in a control file: the update is not yet
    // committed, so take it back everywhere.
    for (PhysicalFile* file : written) (void)file->container().DropPendingArea();
    TransactionRollback();
    return controlError;
  }
  if (g_commitStageHook) g_commitStageHook(CommitStage::kAfterPointOfCommit);

  // Step 5: the second phase.  A failure here leaves a complete pending area
  // whose number is gone from the control files: the next opener finishes it.
  DWORD firstError = 0;
  for (PhysicalFile* file : written) {
    DWORD e = file->container().WriteUpdatePhaseTwo();
    if (firstError == 0) firstError = e;
  }
  for (PhysicalFile* file : g_transaction.files)
    if (file->container().updateOpen() && !file->container().HasChanges()) (void)file->container().WriteUpdate();
  EndTransaction();
  return WrittenStatus(firstError);
}

bool TransactionRecoveryCheck(Container& dataFile, const std::string& dataFileName) {
  std::vector<uint8_t> marker;
  if (!dataFile.Find(ByteView(kMarkerKey, 1), &marker)) return false;
  // A marker too short to hold a number and a terminated name tells nothing:
  // the update is kept.
  if (marker.size() < 5) return false;
  auto end = std::find(marker.begin() + 4, marker.end(), uint8_t{0});
  if (end == marker.end()) return false;
  uint32_t number = uint32_t{marker[0]} | uint32_t{marker[1]} << 8 | uint32_t{marker[2]} << 16 |
                    uint32_t{marker[3]} << 24;
  std::string controlName(marker.begin() + 4, end);
  if (controlName == kDefaultControlPlaceholder) controlName = DefaultControlFileFor(dataFileName);

  // A control file in use by another program (access denied) is tried
  // again for a while.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    ControlFile control;
    const Status opened = control.Open(controlName, /*readOnly=*/true);
    if (opened == Status::System(ERROR_ACCESS_DENIED)) {
      Sleep(10);
      continue;
    }
    if (!opened.ok()) return true;
    bool present = false;
    if (!control.Contains(number, &present).ok()) return true;
    return present;
  }
  return true;
}

void SetCommitStageHook(CommitStageHook hook) { g_commitStageHook = hook; }

}  // namespace pr::store
