// The file drivers linked into the module: when the module is loaded, the
// keyed-file driver puts its entry point into the file layer's "TARNWELL"
// driver record, which the partner file's declaration names.
#include "store/driver.h"

namespace pr::app {
namespace {
__attribute__((constructor)) void RegisterLinkedDrivers() { store::RegisterTarnwellDriver(); }
}  // namespace
}  // namespace pr::app
