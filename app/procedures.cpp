// Placeholder bodies until the browse window and the update form land.
extern "C" {
void BROWSE() {}
void F_BROWSE() {}
}
