// The module's static objects. They are defined in this one file so that
// static construction builds them in exactly this order (and the exit list
// destroys them in the reverse one).
#include "module_state.h"

CString g_strLastMessage;
CString g_strOpenFailFormat(TEXT("Can't open file\"%s\""));
CString g_strEmpty(TEXT(""));
CSnapShotApp theApp;
