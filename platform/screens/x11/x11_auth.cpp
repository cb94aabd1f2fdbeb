#include "x11_auth.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kplat {
namespace x11 {
namespace {

struct Field {
  const uint8_t *bytes;
  size_t size;
};

// A big-endian 16-bit value; false when it runs past size.
bool Take16(const uint8_t *r, size_t size, size_t *at, size_t *value) {
  if (size - *at < 2) return false;
  *value = size_t(r[*at]) << 8 | r[*at + 1];
  *at += 2;
  return true;
}

// A counted field; false when it runs past size.
bool TakeField(const uint8_t *r, size_t size, size_t *at, Field *field) {
  size_t n = 0;
  if (!Take16(r, size, at, &n) || n > size - *at) return false;
  field->bytes = r + *at;
  field->size = n;
  *at += n;
  return true;
}

bool Same(const Field &f, const void *bytes, size_t size) {
  return f.size == size && (size == 0 || memcmp(f.bytes, bytes, size) == 0);
}

// The authority file's path in path; false when it does not fit.
bool AuthorityPath(char *path, size_t size) {
  const char *named = getenv("XAUTHORITY");
  if (named != nullptr) return size_t(snprintf(path, size, "%s", named)) < size;
  const char *home = getenv("HOME");
  return home != nullptr &&
         size_t(snprintf(path, size, "%s/.Xauthority", home)) < size;
}

// The whole of a regular file of at most kMaxAuthorityBytes, malloc'ed in
// *bytes; a FIFO, socket, device or folder is not opened for reading.
bool ReadAuthority(const char *path, uint8_t **bytes, size_t *size) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  uint8_t *data = nullptr;
  size_t got = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
      uint64_t(st.st_size) <= kMaxAuthorityBytes)
    data = static_cast<uint8_t *>(malloc(size_t(st.st_size) + 1));
  // Never more than the size seen, even if the file grows meanwhile.
  while (data != nullptr && got < size_t(st.st_size)) {
    const ssize_t n = read(fd, data + got, size_t(st.st_size) - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  close(fd);
  if (data == nullptr) return false;
  *bytes = data;
  *size = got;
  return true;
}

}  // namespace

bool CookieIn(const uint8_t *r, size_t size, const AuthPeer &peer,
              Cookie *cookie) {
  const size_t numberLen = peer.number ? strlen(peer.number) : 0;
  size_t at = 0;
  while (at < size) {
    size_t family = 0;
    Field address, number, name, data;
    if (!Take16(r, size, &at, &family) || !TakeField(r, size, &at, &address) ||
        !TakeField(r, size, &at, &number) || !TakeField(r, size, &at, &name) ||
        !TakeField(r, size, &at, &data))
      return false;
    const bool place =
        peer.family == kFamilyWild || family == kFamilyWild ||
        (family == peer.family && Same(address, peer.address, peer.addressLen));
    const bool display = numberLen == 0 || number.size == 0 ||
                         Same(number, peer.number, numberLen);
    if (place && display && Same(name, kCookieName, sizeof kCookieName - 1) &&
        data.size <= sizeof cookie->data) {
      memcpy(cookie->data, data.bytes, data.size);
      cookie->size = data.size;
      return true;
    }
  }
  return false;
}

bool FindCookie(const AuthPeer &peer, Cookie *cookie) {
  char path[PATH_MAX];
  uint8_t *bytes = nullptr;
  size_t size = 0;
  if (!AuthorityPath(path, sizeof path) || !ReadAuthority(path, &bytes, &size))
    return false;
  const bool found = CookieIn(bytes, size, peer, cookie);
  free(bytes);
  return found;
}

}  // namespace x11
}  // namespace kplat
