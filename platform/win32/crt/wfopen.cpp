// Opening a file at a UTF-16 path. The file system's names are UTF-8 bytes,
// so the path must convert exactly: a name that only resembles the caller's
// would create or truncate the wrong file.
#include <errno.h>
#include <stdlib.h>

#include "file_stream.h"
#include "hook.h"
#include "utf.h"
#include "wincrt.h"

namespace {

// Paths and modes that fit here need no heap block.
constexpr size_t kStackPath = 256;
constexpr size_t kStackMode = 16;

FILE *FailWith(int error) {
  errno = error;
  return nullptr;
}

// Either the caller's stack buffer or a malloc'ed block of size bytes.
char *Buffer(char *stackBuf, size_t stackSize, size_t size) {
  if (size <= stackSize) return stackBuf;
  return static_cast<char *>(malloc(size));
}

void FreeBuffer(char *buf, char *stackBuf) {
  if (buf != stackBuf) free(buf);
}

}  // namespace

extern "C" FILE *_wfopen(const WCHAR *filename, const WCHAR *mode) {
  if (kplat::ShouldFail(KTEST_OP_WFOPEN)) return FailWith(ENOMEM);
  if (filename == nullptr || mode == nullptr) return FailWith(EINVAL);

  const size_t modeLen = kplat::Utf16Length(mode);
  if (modeLen == 0) return FailWith(EINVAL);
  for (size_t i = 0; i < modeLen; ++i) {
    if (mode[i] >= 0x80) return FailWith(EINVAL);
  }

  const size_t pathLen = kplat::Utf16Length(filename);
  size_t pathBytes;
  if (!kplat::Utf16ToUtf8Length(filename, pathLen, &pathBytes)) {
    return FailWith(EILSEQ);
  }
  if (pathBytes == SIZE_MAX || modeLen > SIZE_MAX - 1) {
    return FailWith(ENAMETOOLONG);
  }

  char pathStack[kStackPath];
  char modeStack[kStackMode];
  char *path = Buffer(pathStack, sizeof pathStack, pathBytes + 1);
  char *modeText = Buffer(modeStack, sizeof modeStack, modeLen + 1);
  if (path == nullptr || modeText == nullptr) {
    if (path != nullptr) FreeBuffer(path, pathStack);
    if (modeText != nullptr) FreeBuffer(modeText, modeStack);
    return FailWith(ENOMEM);
  }

  kplat::Utf16ToUtf8(filename, pathLen, path);
  path[pathBytes] = '\0';

  for (size_t i = 0; i < modeLen; ++i) {
    modeText[i] = static_cast<char>(mode[i]);
  }
  modeText[modeLen] = '\0';

  FILE *f = kplat::OpenFileStream(path, modeText);
  const int openErrno = errno;
  FreeBuffer(path, pathStack);
  FreeBuffer(modeText, modeStack);
  errno = openErrno;
  return f;
}
