#include "module_state.h"

// A null name: the framework names the application after the module's file
// when it attaches the module.
CSnapShotApp::CSnapShotApp() : CWinApp(nullptr) {}

CSnapShotApp::~CSnapShotApp() {}

BEGIN_MESSAGE_MAP(CSnapShotApp, CWinApp)
END_MESSAGE_MAP()
