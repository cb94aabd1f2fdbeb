// Memory a peer (an X server, a compositor) writes into: an anonymous file,
// mapped shared and populated in one go.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kplat {

// size bytes backed by a new memfd, mapped read-write and populated (one
// call instead of a fault per page). False, holding nothing, when any step
// fails; else the caller owns *fd and the mapping at *data.
bool MapSharedMemfd(size_t size, int *fd, uint8_t **data);

}  // namespace kplat
