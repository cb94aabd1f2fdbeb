// The application object: one per module, registered in the framework's
// state by its constructor and named when the module is attached.
#include "afxwin.h"
#include "module_state.h"

CWinApp::CWinApp(LPCWSTR lpszAppName)
    : m_pszAppName(lpszAppName),
      m_pszExeName(nullptr),
      m_hInstance(nullptr),
      m_lpCmdLine(nullptr),
      m_nCmdShow(0) {
  AfxGetModuleState()->m_pCurrentWinApp = this;
}

CWinApp::~CWinApp() {
  AfxModuleState *state = AfxGetModuleState();
  if (state->m_pCurrentWinApp == this) state->m_pCurrentWinApp = nullptr;
}

CRuntimeClass *CWinApp::GetRuntimeClass() const { return &classCWinApp; }

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }
