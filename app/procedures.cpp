// Placeholder bodies until the partner procedures land.
#include <cstdint>

extern "C" {
int32_t ADD_PARTNER(const char* name) {
  (void)name;
  return -1;
}
void BROWSE() {}
void F_BROWSE() {}
}
