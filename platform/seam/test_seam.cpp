#include "seam/test_seam.h"

namespace kplat {

const TestSeam *g_testSeam = nullptr;

}  // namespace kplat
