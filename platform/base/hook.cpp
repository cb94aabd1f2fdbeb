#include "hook.h"

namespace kplat {

const TestHook *g_hook = nullptr;

}  // namespace kplat
