// The device's core library as the module sees it: types, graphics calls,
// text conversion and the C runtime.
#pragma once

#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "winbase.h"
#include "wincrt.h"
#include "windef.h"
#include "wingdi.h"
#include "winnls.h"
#include "winpix.h"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
