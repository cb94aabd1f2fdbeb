#include "module_state.h"

#include <pthread.h>

#include <type_traits>

#include "sigpipe.h"

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

AFX_MODULE_STATE *AfxGetStaticModuleState() { return &g_afxModuleState; }

// The module has one state; what is kept is the thread's cancelability,
// and SIGPIPE is held back for the whole call.
AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE *pModuleState)
    : m_nPrevCancelState(PTHREAD_CANCEL_ENABLE) {
  (void)pModuleState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_nPrevCancelState);
  kplat::HoldSigpipeForCall();
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() {
  kplat::ReleaseSigpipeForCall();
  pthread_setcancelstate(m_nPrevCancelState, nullptr);
}
