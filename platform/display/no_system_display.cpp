// A platform without a system display: only a test's memory display exists.
#include "display.h"

namespace kplat {

Display *SystemDisplay() { return nullptr; }
void CloseSystemDisplay() {}

}  // namespace kplat
