#include "files/thread_files.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "files/runtime_state.h"
#include "files/statements.h"
#include "files/view.h"

namespace pr::files {
namespace {

struct Instance {
  const ThreadFileTemplate* source;
  FileDescriptor descriptor;
  std::unique_ptr<KeyDescriptor[]> keys;
  std::unique_ptr<uint8_t[]> record;
};

struct ThreadFiles {
  std::vector<std::unique_ptr<Instance>> instances;
  std::vector<FileDescriptor*> views;
  ~ThreadFiles() { DestroyAll(); }
  void DestroyAll() {
    // Views first: they read the files below them.
    while (!views.empty()) {
      FileDescriptor* view = views.back();
      views.pop_back();
      if (ViewStateOwnedByThisThread(view)) Destroy(view);
    }
    // Newest first, so a file made while another was in use goes first.
    while (!instances.empty()) {
      std::unique_ptr<Instance> last = std::move(instances.back());
      instances.pop_back();
      Destroy(&last->descriptor);
    }
  }
};

thread_local bool t_filesGone = false;

struct ThreadFilesHolder {
  ThreadFiles files;
  ~ThreadFilesHolder() {
    files.DestroyAll();
    t_filesGone = true;
  }
};

ThreadFiles* CurrentThreadFiles() {
  if (t_filesGone) return nullptr;
  // The runtime state is made first so that it outlives this thread's files:
  // thread-local objects end in the reverse order of their construction, and
  // DESTROY still needs the error state.
  CurrentRuntimeState();
  thread_local ThreadFilesHolder holder;
  return &holder.files;
}

std::unique_ptr<Instance> MakeInstance(const ThreadFileTemplate& source) {
  std::unique_ptr<Instance> instance(new (std::nothrow) Instance{&source, *source.descriptor, nullptr, nullptr});
  if (!instance) return nullptr;
  FileDescriptor& d = instance->descriptor;
  const uint32_t keyCount = source.keys != nullptr ? d.declaration.keyCount : 0;
  if (keyCount > 0) {
    instance->keys.reset(new (std::nothrow) KeyDescriptor[keyCount]);
    if (!instance->keys) return nullptr;
    for (uint32_t i = 0; i < keyCount; ++i) {
      instance->keys[i] = source.keys[i];
      instance->keys[i].file = &d;
      instance->keys[i].driverState = nullptr;
    }
  }
  if (d.recordLength > 0) {
    instance->record.reset(new (std::nothrow) uint8_t[d.recordLength]);
    if (!instance->record) return nullptr;
    if (source.initialRecord != nullptr) {
      std::memcpy(instance->record.get(), source.initialRecord, d.recordLength);
    } else {
      std::memset(instance->record.get(), 0, d.recordLength);
    }
  }
  // The working fields of a fresh instance start cleared.
  d.keys = instance->keys.get();
  d.declaration.keyCount = keyCount;
  d.record = instance->record.get();
  d.hook = nullptr;
  d.flags &= ~uint32_t{FD_OPEN};
  d.driverState = nullptr;
  d.transaction = nullptr;
  return instance;
}

}  // namespace

FileDescriptor* ThreadInstance(const ThreadFileTemplate& file) {
  if (file.descriptor == nullptr) return nullptr;
  ThreadFiles* files = CurrentThreadFiles();
  if (files == nullptr) return nullptr;
  for (const auto& instance : files->instances) {
    if (instance->source == &file) return &instance->descriptor;
  }
  std::unique_ptr<Instance> instance = MakeInstance(file);
  if (!instance) return nullptr;
  try {
    files->instances.push_back(std::move(instance));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return &files->instances.back()->descriptor;
}

void RegisterThreadView(FileDescriptor* view) {
  ThreadFiles* files = CurrentThreadFiles();
  if (files == nullptr || std::find(files->views.begin(), files->views.end(), view) != files->views.end()) return;
  try {
    files->views.push_back(view);
  } catch (const std::bad_alloc&) {
  }
}

void UnregisterThreadView(const FileDescriptor* view) {
  if (t_filesGone) return;
  ThreadFiles* files = CurrentThreadFiles();
  if (files == nullptr) return;
  files->views.erase(std::remove(files->views.begin(), files->views.end(), view), files->views.end());
}

void ReleaseThreadFiles() {
  if (ThreadFiles* files = CurrentThreadFiles()) files->DestroyAll();
}

}  // namespace pr::files
