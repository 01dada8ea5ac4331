// The module's exported surface: the three procedures and the request
// variables.  The procedures' bodies live in their own files.
#include <cstdint>

extern "C" {
// Per-thread request variables: a host that looks one up from a thread gets
// that thread's copy.
thread_local int32_t GlobalRequest asm("$GlobalRequest") = 0;
thread_local int32_t GlobalResponse asm("$GlobalResponse") = 0;
thread_local int32_t VCRRequest asm("$VCRRequest") = 0;
// Kept for the host; nothing in the module reads or writes it.
char LangINI[20] asm("$Lang_INI") = ".\\Lang.INI";
}
