// The framework's per-process state for the module it is linked into.
#pragma once

#include "afxwin.h"

struct AfxModuleState {
  CWinApp *m_pCurrentWinApp;
  HINSTANCE m_hCurrentInstanceHandle;
  // Names taken from the module's file at attach; malloc'ed, NULL when not
  // made (no file name, or no memory).
  LPWSTR m_lpszExeName;
  LPWSTR m_lpszAppName;
  // The module's file as the loader found it (not owned), and whether the
  // module is the executable rather than a shared library.
  const char *m_lpszModuleFile;
  BOOL m_bExecutable;
};

// Never NULL. The state is constant-initialised, so it is usable from any
// static constructor, and never destroyed, so it outlives every static
// destructor.
AfxModuleState *AfxGetModuleState();

// Called by the platform's loader before it attaches the module.
void AfxSetModuleFile(const char *lpszPath, BOOL bExecutable);
