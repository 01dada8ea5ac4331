// The module's exported variables, its per-thread block and what it does when
// it is loaded into a process, unloaded, and when a thread ends.  The
// procedures' bodies live in their own files.
#include "app/module.h"

#include <cstddef>
#include <cstdint>

#include "files/thread_files.h"
#include "platform/kernel.h"
#include "resources/module_resources.h"

extern "C" {
// The per-thread block, zeroed in each new thread.  Not exported itself: the
// version script keeps it local.
constinit thread_local pr::app::ThreadBlock PrThreadBlock asm("PrThreadBlock") = {};

// Kept for the host; nothing in the module reads or writes it.
char LangINI[20] asm("$Lang_INI") = ".\\Lang.INI";
}

// The three exported request variables are names for members of the block:
// thread-local symbols at fixed offsets into it, so a lookup from a thread
// finds that thread's members.
static_assert(offsetof(pr::app::ThreadBlock, globalRequest) == 16);
static_assert(offsetof(pr::app::ThreadBlock, globalResponse) == 20);
static_assert(offsetof(pr::app::ThreadBlock, vcrRequest) == 24);
asm(R"(
  .globl "$GlobalRequest"
  .type "$GlobalRequest", @tls_object
  .size "$GlobalRequest", 4
  .set "$GlobalRequest", PrThreadBlock + 16
  .globl "$GlobalResponse"
  .type "$GlobalResponse", @tls_object
  .size "$GlobalResponse", 4
  .set "$GlobalResponse", PrThreadBlock + 20
  .globl "$VCRRequest"
  .type "$VCRRequest", @tls_object
  .size "$VCRRequest", 4
  .set "$VCRRequest", PrThreadBlock + 24
)");

namespace pr::app {
namespace {
// Its destructor is the thread-exit handler; it exists in a thread from the
// thread's first CurrentThreadBlock() on.
struct ThreadEndHandler {
  bool armed = false;
  ~ThreadEndHandler() {
    if (armed) EndThread();
  }
};
thread_local ThreadEndHandler t_endHandler;

HMODULE g_module = nullptr;

// Process attach: register the module's resources under its own handle.
__attribute__((constructor)) void ProcessAttach() {
  g_module = ModuleFromAddress(reinterpret_cast<const void*>(&ProcessAttach));
  pr::RegisterModuleResources(g_module);
}

// Process detach: the thread-end steps for the detaching thread, then the
// module's resources leave the registry.
__attribute__((destructor)) void ProcessDetach() {
  if (PrThreadBlock.started && !PrThreadBlock.ended) EndThread();
  if (g_module != nullptr) UnregisterModuleResources(g_module);
}
}  // namespace

__attribute__((weak)) void OnThreadEnd(ThreadBlock& block) { (void)block; }

ThreadBlock& CurrentThreadBlock() {
  ThreadBlock& block = PrThreadBlock;
  if (!block.started && !block.ended) {
    block.started = true;
    t_endHandler.armed = true;
    // Bind the block to the thread's own instance of Partneri: the instance's
    // key already points back at the instance.
    block.partneri = Partneri();
    block.idKey = block.partneri != nullptr ? &block.partneri->keys[0] : nullptr;
    block.record = block.partneri != nullptr ? reinterpret_cast<PartnerRecord*>(block.partneri->record) : nullptr;
  }
  return block;
}

void EndThread() {
  ThreadBlock& block = PrThreadBlock;
  if (!block.started || block.ended) return;
  block.ended = true;
  OnThreadEnd(block);
  files::ReleaseThreadFiles();
  block.partneri = nullptr;
  block.idKey = nullptr;
  block.record = nullptr;
  block.openCount = 0;
  block.browseViewSetUp = false;
  block.browseViewGuard = false;
  block.started = false;
  block.ended = false;
}

}  // namespace pr::app
