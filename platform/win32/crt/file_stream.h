// The streams _wfopen hands out: C stdio streams over a descriptor of our
// own, so that what an unlucky host does to a write stays inside the call.
#pragma once

#include <stdio.h>

namespace kplat {

// Opens path with an fopen-style mode ("r", "w", "a", each with "+", "b" or
// "x"). The stream is buffered as stdio's own and reports failures through
// fwrite, ferror and fclose as they do, but
// - a write to a pipe whose reader has left fails with EPIPE instead of
//   raising SIGPIPE;
// - writes and reads cut short by a signal handler are carried on;
// - a FIFO that nobody reads fails at once (ENXIO) instead of waiting for a
//   reader;
// - the descriptor is closed on exec.
// NULL with errno set when it cannot be opened.
FILE *OpenFileStream(const char *path, const char *mode);

}  // namespace kplat
