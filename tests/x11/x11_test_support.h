// Shared by the X display tests: pointing the platform at a test server and
// reading the whole screen through it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "display.h"
#include "test_support.h"
#include "xvfb_fixture.h"

namespace ktest {

// Points DISPLAY at the server and makes the platform connect anew.
void UseServer(const Xvfb &server);

// The whole screen through kplat::SystemDisplay(), as pixel values; false
// when any step fails. stridePad bytes are left after every row, and the
// buffer is filled bottom-up (negative stride) when bottomUp.
bool ReadScreen(std::vector<uint32_t> *pixels, int *width, int *height,
                kplat::PixelFormat *format, int stridePad = 0,
                bool bottomUp = false);

// SysV segments this process created (only those not yet marked for
// removal when notMarkedOnly). Open descriptors: CountOpenFds in
// test_support.h.
int CountOwnSysVSegments(bool notMarkedOnly = false);

}  // namespace ktest
