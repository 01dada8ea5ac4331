// The file drivers linked into the module: when the module is loaded, the
// keyed-file driver puts its entry point into the file layer's "TARNWELL"
// driver record, which the partner file's declaration names, and its one
// message box (IMPORTFILE's) is shown through the module's message dialog.
#include <string>

#include "store/driver.h"
#include "store/options.h"
#include "ui/message.h"

namespace pr::app {
namespace {

// The exclamation icon: byte 0xFF, byte 0x01, then 32515 + 1.
void ShowImportBox(const char* title, const char* text) {
  ui::Message(text, title, std::string("\xFF\x01\x04\x7F", 4), "", 0, 0);
}

__attribute__((constructor)) void RegisterLinkedDrivers() {
  store::RegisterTarnwellDriver();
  store::SetImportMessageBox(ShowImportBox);
}

}  // namespace
}  // namespace pr::app
