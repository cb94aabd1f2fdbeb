/* A host built against the installed library: captures to argv[1] at
 * quality argv[2], or prints the header's version for --version. */
#include <kestrel/kestrel.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "--version") == 0)
    return printf("%d.%d.%d\n", KESTREL_VERSION_MAJOR, KESTREL_VERSION_MINOR,
                  KESTREL_VERSION_PATCH) > 0
               ? 0
               : 1;
  if (argc != 3) return 2;
  const size_t n = strlen(argv[1]);
  WCHAR *path = malloc((n + 1) * sizeof(WCHAR));
  if (!path) return 2;
  for (size_t i = 0; i <= n; ++i) path[i] = (WCHAR)(unsigned char)argv[1][i];
  const int ok = SnapShot(path, atoi(argv[2]));
  free(path);
  return ok == 1 ? 0 : 1;
}
