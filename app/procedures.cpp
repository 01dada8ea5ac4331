// The exported procedures BROWSE and F_BROWSE@F (F_BROWSE under the version
// node F of exports.map).
#include "app/browse.h"
#include "app/form.h"

extern "C" {
void BROWSE() { pr::app::Browse(); }
void F_BROWSE() { pr::app::UpdateForm(); }
}
