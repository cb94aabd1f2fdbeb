#include "wl_own_socket.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kplat {
namespace wl {
namespace {

// wayland-<digits>: the names compositors give their sockets (the lock
// files beside them end in .lock).
bool CompositorName(const char *name) {
  static const char kPrefix[] = "wayland-";
  const size_t prefix = sizeof kPrefix - 1;
  if (strncmp(name, kPrefix, prefix) != 0 || name[prefix] == '\0') return false;
  for (const char *c = name + prefix; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  return true;
}

}  // namespace

bool FindOwnCompositorSocket(char *name, size_t size) {
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (size == 0) return false;
  name[0] = '\0';
  if (!runtime || runtime[0] != '/') return false;
  DIR *dir = opendir(runtime);
  if (!dir) return false;
  const uid_t uid = getuid();
  int found = 0;
  while (const dirent *entry = readdir(dir)) {
    struct stat st;
    if (!CompositorName(entry->d_name) ||
        fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISSOCK(st.st_mode) || st.st_uid != uid)
      continue;
    if (++found == 1 && strlen(entry->d_name) < size)
      strcpy(name, entry->d_name);
  }
  closedir(dir);
  return found == 1 && name[0] != '\0';
}

}  // namespace wl
}  // namespace kplat
