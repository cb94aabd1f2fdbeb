// The file a portal's answer names: read only when it is what the portal
// writes (a regular file of the portal's user, named directly, with one
// link), and removed only when the name still leads to the file read.
#pragma once

#include <sys/types.h>

#include "picture.h"

namespace kplat {
namespace portal {

// The picture in the PNG file at path, which must be a regular file owned
// by owner; the file is removed afterwards, decoded or not. False, holding
// nothing and removing nothing, for a FIFO, device, socket, symbolic link
// or folder, another user's file, or one with other links.
bool TakePortalFile(const char *path, uid_t owner, Picture *picture);

}  // namespace portal
}  // namespace kplat
