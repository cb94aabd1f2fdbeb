// What lives as long as the module is loaded: the status text with its two
// fixed companions, and the application object.
#pragma once

#include <afxwin.h>

// The last message of the JPEG encoder, or the message for a JPEG output
// file that could not be opened. Nothing in the module reads it.
extern CString g_strLastMessage;
// Format of the open-failure message; its one %s takes the path.
extern CString g_strOpenFailFormat;
// The value the status text is reset to.
extern CString g_strEmpty;

class CSnapShotApp : public CWinApp {
 public:
  CSnapShotApp();
  ~CSnapShotApp() override;

  DECLARE_MESSAGE_MAP()
};

extern CSnapShotApp theApp;
