// The framework's entry point: attaches the module to its application object
// and detaches it again. It only records and frees; nothing here can make a
// load fail, print or end the process.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "afxwin.h"
#include "module_state.h"
#include "utf.h"

namespace {

// The command line of a module: it has none.
WCHAR g_emptyCmdLine[1];

// The module's name from its file: the base name, and for a shared library
// without a leading "lib" and cut at the first ".so". NULL when there is no
// file name or no memory.
LPWSTR ModuleName(const char *lpszPath, BOOL bExecutable) {
  if (lpszPath == nullptr) return nullptr;
  const char *base = strrchr(lpszPath, '/');
  base = base != nullptr ? base + 1 : lpszPath;
  size_t len = strlen(base);
  if (!bExecutable) {
    if (strncmp(base, "lib", 3) == 0) {
      base += 3;
      len -= 3;
    }
    const char *so = strstr(base, ".so");
    if (so != nullptr) len = static_cast<size_t>(so - base);
  }
  size_t units;
  kplat::Utf8ToUtf16Length(base, len, false, &units);
  if (units >= SIZE_MAX / sizeof(WCHAR)) return nullptr;
  LPWSTR name = static_cast<LPWSTR>(malloc((units + 1) * sizeof(WCHAR)));
  if (name == nullptr) return nullptr;
  kplat::Utf8ToUtf16(base, len, name);
  name[units] = 0;
  return name;
}

// Frees the names taken at attach; nothing keeps pointing at them.
void FreeNames(AfxModuleState *state) {
  CWinApp *app = state->m_pCurrentWinApp;
  if (app != nullptr) {
    if (app->m_pszAppName == state->m_lpszAppName) app->m_pszAppName = nullptr;
    if (app->m_pszExeName == state->m_lpszExeName) app->m_pszExeName = nullptr;
  }
  free(state->m_lpszExeName);
  free(state->m_lpszAppName);
  state->m_lpszExeName = nullptr;
  state->m_lpszAppName = nullptr;
}

// Ends the module's attachment.
void EndModuleState(AfxModuleState *state) {
  FreeNames(state);
  CWinApp *app = state->m_pCurrentWinApp;
  if (app != nullptr) {
    app->m_lpCmdLine = nullptr;
    app->m_hInstance = nullptr;
  }
  state->m_hCurrentInstanceHandle = nullptr;
  state->m_lpszModuleFile = nullptr;
}

void Attach(AfxModuleState *state, HINSTANCE hInstance) {
  // A second attach replaces the first one's names instead of leaking them.
  FreeNames(state);
  state->m_hCurrentInstanceHandle = hInstance;
  state->m_lpszExeName =
      ModuleName(state->m_lpszModuleFile, state->m_bExecutable);

  CWinApp *app = state->m_pCurrentWinApp;
  if (app == nullptr) return;
  app->m_hInstance = hInstance;
  app->m_lpCmdLine = g_emptyCmdLine;
  app->m_nCmdShow = 0;
  app->m_pszExeName = state->m_lpszExeName;
  if (app->m_pszAppName == nullptr) {
    state->m_lpszAppName =
        ModuleName(state->m_lpszModuleFile, state->m_bExecutable);
    app->m_pszAppName = state->m_lpszAppName;
  }
  // The loader cannot refuse a load, so what InitInstance reports changes
  // nothing here.
  app->InitInstance();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason,
                               LPVOID lpReserved) {
  (void)lpReserved;
  AfxModuleState *state = AfxGetModuleState();
  switch (dwReason) {
    case DLL_PROCESS_ATTACH:
      Attach(state, hInstance);
      break;
    case DLL_PROCESS_DETACH:
      if (state->m_pCurrentWinApp != nullptr) {
        state->m_pCurrentWinApp->ExitInstance();
      }
      EndModuleState(state);
      break;
    default:
      // Threads get no state of their own from this framework.
      break;
  }
  return TRUE;
}
