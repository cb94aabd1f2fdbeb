// Storage rules shared by CString's source files.
#pragma once

#include <limits.h>

#include "windef.h"

namespace kplat {

// The longest text a CString holds: its block of length + 1 WCHARs must
// have an int-sized count.
constexpr int kAfxMaxLength = INT_MAX - 1;

// The empty text every empty CString points at.
extern const WCHAR kAfxEmptyText[1];

// A block for nLength WCHARs and a terminator (set), or NULL when nLength is
// out of range or the heap has none.
WCHAR *AfxAllocText(int nLength);

}  // namespace kplat
