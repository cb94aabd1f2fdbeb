// The platform's loader, seen from a module: this executable (whose static
// application object links before the loader) and a library loaded with
// dlopen, whose unload shows the order of detach and destruction.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "afxwin.h"
#include "module_state.h"

namespace {

class CTestApp : public CWinApp {
 public:
  CTestApp() {
    attachedBeforeConstruction =
        AfxGetModuleState()->m_hCurrentInstanceHandle != nullptr;
  }
  BOOL InitInstance() override {
    ++inits;
    currentAtInit = AfxGetApp() == this;
    return CWinApp::InitInstance();
  }

  bool attachedBeforeConstruction = false;
  bool currentAtInit = false;
  int inits = 0;
};

CTestApp theApp;

std::u16string Name(LPCWSTR s) { return s ? s : u"<null>"; }

TEST(StaticApplication, IsAttachedByTheTimeMainRuns) {
  EXPECT_EQ(&theApp, AfxGetApp());
  EXPECT_FALSE(theApp.attachedBeforeConstruction);
  EXPECT_EQ(1, theApp.inits);
  EXPECT_TRUE(theApp.currentAtInit);

  Dl_info info;
  ASSERT_NE(0, dladdr(&theApp, &info));
  EXPECT_EQ(static_cast<HINSTANCE>(info.dli_fbase), theApp.m_hInstance);
  EXPECT_EQ(theApp.m_hInstance, AfxGetModuleState()->m_hCurrentInstanceHandle);
  // An executable keeps its whole base name.
  EXPECT_TRUE(AfxGetModuleState()->m_bExecutable);
  EXPECT_EQ(u"runtime_app_test", Name(theApp.m_pszExeName));
  EXPECT_EQ(u"runtime_app_test", Name(theApp.m_pszAppName));
  EXPECT_EQ(u"", Name(theApp.m_lpCmdLine));
  EXPECT_EQ(0, theApp.m_nCmdShow);
}

std::string g_pluginLog;
void PluginLog(const char *event) { g_pluginLog += std::string(event) + ";"; }

TEST(LoadedLibrary, AttachesAtDlopenAndDetachesAtDlclose) {
  for (int round = 0; round < 2; ++round) {
    g_pluginLog.clear();
    void *lib = dlopen(KESTREL_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, lib) << dlerror();
    auto app = reinterpret_cast<const CWinApp *(*)()>(dlsym(lib, "PluginApp"));
    auto setLog = reinterpret_cast<void (*)(void (*)(const char *))>(
        dlsym(lib, "PluginSetLog"));
    ASSERT_NE(nullptr, app);
    ASSERT_NE(nullptr, setLog);

    Dl_info info;
    ASSERT_NE(0, dladdr(reinterpret_cast<void *>(app), &info));
    EXPECT_EQ(static_cast<HINSTANCE>(info.dli_fbase), app()->m_hInstance);
    EXPECT_NE(theApp.m_hInstance, app()->m_hInstance);
    // libruntime_plugin.so: "lib" and ".so" are not part of the name.
    EXPECT_EQ(u"runtime_plugin", Name(app()->m_pszExeName));
    EXPECT_EQ(u"runtime_plugin", Name(app()->m_pszAppName));
    // The library's framework state is its own.
    EXPECT_EQ(&theApp, AfxGetApp());

    setLog(PluginLog);
    EXPECT_EQ(0, dlclose(lib));
    EXPECT_EQ("exit;destroy;", g_pluginLog);
  }
}

}  // namespace
