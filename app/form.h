// The partner update form (exported as F_BROWSE@F).
//
// The caller leaves the request in $GlobalRequest (1 Insert, 2 Change,
// 3 Delete, 6 View) and the record to work on in the thread's record buffer.
// The form shows it in the window "PR_DLL$PR_DL004", saves, adds or deletes
// it on OK and leaves Completed (1) or Cancelled (2) in $GlobalResponse and,
// when a host toolbar control asked to save and move on, that control's
// number in $VCRRequest.  An insert reserves the next identifier by adding a
// record before the window opens and removes it again when the user cancels.
//
// A caller that holds Partneri open (the browse) has already made the record
// current.  A direct call (the form opens the file itself) with a Change,
// Delete or View request reads the record whose PAR:ID is in the buffer
// first; when there is none, warning 35 is shown and the form answers
// Cancelled without opening.  Any other request opens nothing and answers
// Cancelled.
//
// The ditto record (the record last saved by any form) and the form position
// are process-wide and written without a lock; everything else is the calling
// thread's.
#pragma once

#include <string>

#include "app/partner_file.h"

namespace pr::app {

void UpdateForm();

// The host toolbar 2000..2012 lives in the frame of the window engine that
// this module carries, so the module shows that frame itself while one of
// its windows runs, unless it is already open: opened on construction,
// closed on destruction when it was opened here.
class HostFrameUse {
 public:
  HostFrameUse();
  ~HostFrameUse();
  HostFrameUse(const HostFrameUse&) = delete;
  HostFrameUse& operator=(const HostFrameUse&) = delete;

 private:
  bool openedHere_ = false;
};

// The enabled host toolbar keys with what each does now (its tip, else its
// label), one "|KEY: what" line each, for the windows' F1 help.
std::string ToolbarKeyList();

}  // namespace pr::app
