// Memory a peer (an X server, a compositor) writes into: an anonymous file,
// mapped shared. Not populated here: the peer writes first and takes the
// pages on its side, and reading them back then maps them many at a fault;
// populating ahead made a 3840x2160 capture an eighth slower.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {

// size bytes backed by a new memfd, mapped read-write. False, holding nothing,
// when any step fails; else the caller owns *fd and the mapping at *data.
bool MapSharedMemfd(size_t size, int *fd, uint8_t **data);

}  // namespace kplat
