#include "module_state.h"

#include <type_traits>

// Trivial type with no initialiser: zero-filled before any code of the
// module runs, with no constructor or destructor in the static lists.
static_assert(std::is_trivial<AfxModuleState>::value,
              "the framework's state must need no dynamic construction");

namespace {
AfxModuleState g_afxModuleState;
}  // namespace

AfxModuleState *AfxGetModuleState() { return &g_afxModuleState; }

void AfxSetModuleFile(const char *lpszPath, BOOL bExecutable) {
  g_afxModuleState.m_lpszModuleFile = lpszPath;
  g_afxModuleState.m_bExecutable = bExecutable;
}

CWinApp *AfxGetApp() { return g_afxModuleState.m_pCurrentWinApp; }
