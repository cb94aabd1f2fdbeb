/* Where kestrel-snap's picture goes when it is not a named file: the
 * standard output it was given, or a new file named from the local time. */
#ifndef KESTREL_SNAP_OUTPUT_H
#define KESTREL_SNAP_OUTPUT_H

#include <stddef.h>

/* An anonymous file, open for reading, and in path a name through which the
 * library can write it. Returns the descriptor, or -1 with errno. */
int OpenAnonymousFile(char *path, size_t room);

/* Copies what fd holds, from its start, to descriptor 1 at its current
 * offset, carrying on after short writes and interrupted calls. Returns 0,
 * or -1 with errno (EPIPE when the reader has gone). */
int CopyToStandardOutput(int fd);

/* Creates a new file in the current folder named from the local time with
 * extension ext (".png"), never one that exists already, and puts its name
 * in name. Returns 0, or -1 with errno. */
int CreateTimeNamedFile(const char *ext, char *name, size_t room);

#endif
