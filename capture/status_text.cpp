#include "status_text.h"

#include "module_state.h"

void CaptureJpegResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
  g_strLastMessage = g_strEmpty;
}

void CaptureJpegOutputMessage(j_common_ptr cinfo) {
  char buffer[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, buffer);
  // libjpeg's messages are 8-bit text; the string converts them.
  g_strLastMessage = static_cast<LPCSTR>(buffer);
}

void CaptureSetOpenFailMessage(LPCWSTR lpszPath) {
  // The path is an argument, never part of the format, so a % in it is kept.
  g_strLastMessage.Format(g_strOpenFailFormat, lpszPath);
}
