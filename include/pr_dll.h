/*
 * PR_DLL: the partner registry module, as a host program links against it.
 *
 * The module keeps one file of business partners, PARTNERI.TWL in the
 * current directory, and shows its windows through libpr_platform (a
 * terminal when the program runs in one, otherwise the headless window
 * system; PR_UI=terminal or PR_UI=headless chooses).
 *
 *   cc host.c $(pkg-config --cflags --libs pr_dll)
 *
 * Every procedure runs on the calling thread and returns when its work, and
 * any window it shows, is finished.  The request variables are per thread:
 * each thread that calls into the module reads and sets its own copies.
 */
#ifndef PR_DLL_H
#define PR_DLL_H

#include <stdint.h>

/* The variables' export names begin with "$"; GCC hands the name to the
   assembler as written, so it goes in quotes there. */
#if defined(__clang__) || !defined(__GNUC__)
#define PR_SYMBOL(name) __asm__(name)
#else
#define PR_SYMBOL(name) __asm__("\"" name "\"")
#endif

#ifdef __cplusplus
#define PR_THREAD_LOCAL thread_local
extern "C" {
#else
#define PR_THREAD_LOCAL _Thread_local
#endif

/* Request codes, for PR_GlobalRequest. */
#define PR_INSERT_REQUEST 1
#define PR_CHANGE_REQUEST 2
#define PR_DELETE_REQUEST 3
#define PR_SELECT_REQUEST 4
#define PR_VIEW_REQUEST 6

/* Response codes, in PR_GlobalResponse (0 before any response). */
#define PR_COMPLETED_RESPONSE 1
#define PR_CANCELLED_RESPONSE 2

/*
 * Adds a partner named `name` (a NUL-terminated text in Windows-1250; longer
 * than 20 characters is cut) with the next free identifier, tells the user
 * the outcome in a message box, and returns the identifier, or -1 when the
 * partner could not be stored.
 */
int32_t ADD_PARTNER(const char *name);

/*
 * The partner browse window.  With PR_GlobalRequest set to PR_SELECT_REQUEST
 * it is a selector: PR_GlobalResponse tells whether a partner was chosen.
 */
void BROWSE(void);

/*
 * The update form for one partner (exported as "F_BROWSE@F"): set
 * PR_GlobalRequest to an insert, change, delete or view request first; the
 * outcome is left in PR_GlobalResponse and PR_VCRRequest.
 */
void F_BROWSE(void);

/* The calling thread's request variables, 32-bit signed, 0 in a new thread. */
extern PR_THREAD_LOCAL int32_t PR_GlobalRequest PR_SYMBOL("$GlobalRequest");
extern PR_THREAD_LOCAL int32_t PR_GlobalResponse PR_SYMBOL("$GlobalResponse");
/* 0, or the host toolbar control (2000, 2004 to 2009) that asked the form to
   save and move on to another record. */
extern PR_THREAD_LOCAL int32_t PR_VCRRequest PR_SYMBOL("$VCRRequest");

/* ".\Lang.INI", one per process, kept for the host; the module never reads it. */
extern char PR_Lang_INI[20] PR_SYMBOL("$Lang_INI");

#ifdef __cplusplus
}
#endif

#undef PR_THREAD_LOCAL
#undef PR_SYMBOL

#endif /* PR_DLL_H */
