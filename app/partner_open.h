// Opening and closing Partneri from a procedure, through the thread's open
// count: nested procedures of one thread share one physical open, and the
// outermost one closes it.
#pragma once

namespace pr::app {

class PartnerFileUse {
 public:
  // Opens through OpenWithRecovery when the thread's open count is 0 (a
  // missing file is created, access mode 0x42); the count is raised whatever
  // the outcome, so the matching Close keeps it balanced.
  void Open();
  // Lowers the count when this use opened, and CLOSEs the file when it
  // reaches 0.  No error is read after that CLOSE.
  void Close();
  ~PartnerFileUse() { Close(); }

 private:
  bool openedHere_ = false;
};

}  // namespace pr::app
