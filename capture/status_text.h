// The three operations that change the status text (g_strLastMessage).
#pragma once

#include <windows.h>
// libjpeg's header needs FILE and size_t first.
#include <jpeglib.h>

// reset_error_mgr of the JPEG error manager: libjpeg calls it at the start of
// every compression. Clears the counters as libjpeg's own reset does and
// empties the status text.
void CaptureJpegResetErrorMgr(j_common_ptr cinfo);

// output_message of the JPEG error manager: the current libjpeg message
// becomes the status text. Nothing is printed.
void CaptureJpegOutputMessage(j_common_ptr cinfo);

// The status text becomes the open-failure message for lpszPath.
void CaptureSetOpenFailMessage(LPCWSTR lpszPath);
