// A module loaded with dlopen by the loader tests: an application object
// built by static construction, reporting what the framework does to it.
#include "afxwin.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void (*g_log)(const char *) = nullptr;

void Log(const char *event) {
  if (g_log != nullptr) g_log(event);
}

class CPluginApp : public CWinApp {
 public:
  ~CPluginApp() override { Log("destroy"); }
  int ExitInstance() override {
    // Detach comes first: the application is still whole here.
    Log(AfxGetApp() == this && m_pszExeName != nullptr ? "exit" : "exit-late");
    return CWinApp::ExitInstance();
  }
};

CPluginApp thePluginApp;

}  // namespace

PLUGIN_EXPORT const CWinApp *PluginApp() { return &thePluginApp; }

PLUGIN_EXPORT void PluginSetLog(void (*log)(const char *)) { g_log = log; }
