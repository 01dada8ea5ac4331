#include "app/partner_open.h"

#include "app/module.h"
#include "app/warnings.h"
#include "files/statements.h"

namespace pr::app {

void PartnerFileUse::Open() {
  if (openedHere_) return;
  ThreadBlock& block = CurrentThreadBlock();
  if (block.openCount == 0 && block.partneri != nullptr)
    OpenWithRecovery(block.partneri, /*createIfMissing=*/true, /*leaveMissingAlone=*/false, 0, /*shared=*/true);
  ++block.openCount;
  openedHere_ = true;
}

void PartnerFileUse::Close() {
  if (!openedHere_) return;
  openedHere_ = false;
  ThreadBlock& block = CurrentThreadBlock();
  if (--block.openCount == 0 && block.partneri != nullptr) files::Close(block.partneri);
}

}  // namespace pr::app
