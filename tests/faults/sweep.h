// The fault sweep: one capture is run unfaulted to count the platform calls
// it makes, then once more for every call of every kind with that one call
// failed. Shared by the memory-display and the X server sweeps.
#pragma once

#include <string>

namespace kfault {

struct SweepStats {
  unsigned faultedCalls = 0;  // captures run with one failed call
  unsigned succeeded = 0;     // of those, the ones that still gave 1
};

// Sweeps a capture to dir/name at quality on whatever screen is installed,
// which must show the same picture throughout. Failures are reported
// through GoogleTest with the operation and call number.
SweepStats SweepCapture(const std::string &dir, const std::string &name,
                        int quality);

}  // namespace kfault
