// The partner browse window (exported as BROWSE).
//
// Lists Partneri in PAR:ID order in the window "PR_DLL$PR_DL005", one page at
// a time through the thread's browse view, and runs the update form for
// Insert, Change and Delete.  With $GlobalRequest = 4 (Select request) the
// window is a selector: Select ends it with Completed response and the
// selected partner in the thread's record buffer, Close with Cancelled
// response.  Any other request makes it a maintenance window whose Close
// answers Completed response.  The outcome is left in $GlobalResponse.
//
// The view is set up once per thread and stays set up after the window
// closes; OnThreadEnd closes it.  Everything here is the calling thread's.
#pragma once

namespace pr::app {

void Browse();

}  // namespace pr::app
