#include "display.h"

#include "memory_display.h"

namespace kplat {

Display *CurrentDisplay() {
  Display *memory = InstalledMemoryDisplay();
  return memory != nullptr ? memory : SystemDisplay();
}

}  // namespace kplat
