/*
 * A host program in C: adds the partners named on its command line through
 * the module's ADD_PARTNER and prints each new identifier.
 *
 *   cc -o add_partner add_partner.c $(pkg-config --cflags --libs pr_dll)
 *   ./add_partner Ana "Ben d.o.o."
 */
#include <pr_dll.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s NAME...\n", argv[0]);
    return 2;
  }
  /* A new thread's request variables start at 0. */
  if (PR_GlobalRequest != 0 || PR_GlobalResponse != 0 || PR_VCRRequest != 0) {
    fprintf(stderr, "request variables not cleared\n");
    return 1;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    int32_t id = ADD_PARTNER(argv[i]);
    if (id < 0) {
      fprintf(stderr, "%s: not added\n", argv[i]);
      status = 1;
      continue;
    }
    printf("%d\t%s\n", (int)id, argv[i]);
    fflush(stdout);
  }
  printf("Lang_INI %s\n", PR_Lang_INI);
  return status;
}
