#include <gtest/gtest.h>

#include <string>

#include "afxwin.h"
#include "fake_gdi.h"
#include "kestrel_testing.h"
#include "module_state.h"

namespace {

HDC FakeDC(uintptr_t n) { return reinterpret_cast<HDC>(n); }

TEST(CDC, AttachesOneHandleAndDeletesItExactlyOnce) {
  g_fakeGdi = FakeGdi();
  {
    CDC dc, detached;
    EXPECT_FALSE(dc.Attach(nullptr));
    EXPECT_FALSE(dc.DeleteDC());  // nothing attached: no call
    EXPECT_TRUE(dc.Attach(FakeDC(0x10)));
    EXPECT_FALSE(dc.Attach(FakeDC(0x20)));
    EXPECT_TRUE(dc.DeleteDC());
    EXPECT_EQ(nullptr, dc.GetSafeHdc());
    EXPECT_FALSE(dc.DeleteDC());
    detached.Attach(FakeDC(0x50));
    EXPECT_EQ(FakeDC(0x50), detached.Detach());
  }
  EXPECT_EQ(1, g_fakeGdi.deleteCalls);
  EXPECT_EQ(FakeDC(0x10), g_fakeGdi.lastDeleted);
  CDC *held = new CDC;
  ASSERT_TRUE(held->Attach(FakeDC(0x40)));
  delete held;  // the destructor deletes a still-attached context
  EXPECT_EQ(2, g_fakeGdi.deleteCalls);
  EXPECT_EQ(FakeDC(0x40), g_fakeGdi.lastDeleted);
}

// An application as a module declares one: a message map of its own and no
// class record; it counts the framework's calls.
class CPlainApp : public CWinApp {
 public:
  explicit CPlainApp(LPCWSTR name = nullptr) : CWinApp(name) {}
  BOOL InitInstance() override { return ++inits, CWinApp::InitInstance(); }
  int ExitInstance() override { return ++exits, CWinApp::ExitInstance(); }
  const AFX_MSGMAP *Map() const { return GetMessageMap(); }
  static const AFX_MSGMAP *AppMap() { return &CWinApp::messageMap; }
  static const AFX_MSGMAP *RootMap() { return &CCmdTarget::messageMap; }
  int inits = 0, exits = 0;
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(CPlainApp, CWinApp)
END_MESSAGE_MAP()

TEST(FrameworkClasses, RuntimeClassAndMessageMapChains) {
  CPlainApp app;
  const CRuntimeClass *c = static_cast<const CObject &>(app).GetRuntimeClass();
  EXPECT_EQ(RUNTIME_CLASS(CWinApp), c);
  for (const char *name : {"CWinApp", "CWinThread", "CCmdTarget", "CObject"}) {
    ASSERT_NE(nullptr, c);
    EXPECT_STREQ(name, c->m_lpszClassName);
    c = c->m_pBaseClass;
  }
  EXPECT_EQ(nullptr, c);

  const AFX_MSGMAP *map = app.Map();
  EXPECT_EQ(nullptr, map->lpEntries[0].pfn);
  EXPECT_EQ(CPlainApp::AppMap(), map->pBaseMap);
  EXPECT_EQ(CPlainApp::RootMap(), map->pBaseMap->pBaseMap);
  EXPECT_EQ(nullptr, CPlainApp::RootMap()->pBaseMap);
}

TEST(FrameworkClasses, ApplicationIsCurrentForItsLifetime) {
  CPlainApp *first = new CPlainApp;
  EXPECT_EQ(first, AfxGetApp());
  EXPECT_TRUE(first->CWinApp::InitInstance());
  EXPECT_EQ(0, first->CWinApp::ExitInstance());
  CPlainApp *second = new CPlainApp;
  delete first;  // not current any more: leaves the current one alone
  EXPECT_EQ(second, AfxGetApp());
  delete second;
  EXPECT_EQ(nullptr, AfxGetApp());
}

const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(0x7000);

std::u16string Name(LPCWSTR s) { return s ? s : u"<null>"; }

TEST(DllMain, AttachRecordsTheModuleAndDetachEndsIt) {
  CPlainApp app;
  app.m_nCmdShow = 5;
  AfxSetModuleFile("/usr/lib/libKestrel.so.0.1.0", FALSE);
  EXPECT_TRUE(DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr));
  AfxModuleState *state = AfxGetModuleState();
  EXPECT_EQ(kInstance, state->m_hCurrentInstanceHandle);
  EXPECT_EQ(kInstance, app.m_hInstance);
  EXPECT_EQ(u"", Name(app.m_lpCmdLine));
  EXPECT_EQ(0, app.m_nCmdShow);
  EXPECT_EQ(u"Kestrel", Name(app.m_pszExeName));
  EXPECT_EQ(u"Kestrel", Name(app.m_pszAppName));
  EXPECT_TRUE(DllMain(kInstance, DLL_THREAD_ATTACH, nullptr));
  EXPECT_TRUE(DllMain(kInstance, DLL_THREAD_DETACH, nullptr));
  EXPECT_EQ(1, app.inits);
  EXPECT_EQ(0, app.exits);

  EXPECT_TRUE(DllMain(kInstance, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(1, app.exits);
  EXPECT_EQ(nullptr, app.m_pszExeName);
  EXPECT_EQ(nullptr, app.m_pszAppName);
  EXPECT_EQ(nullptr, state->m_lpszExeName);
  EXPECT_EQ(nullptr, state->m_hCurrentInstanceHandle);
}

TEST(DllMain, NamesComeFromTheModuleFile) {
  const struct {
    const char *file;
    BOOL executable;
    const char16_t *name;
  } cases[] = {
      {"Capture.so.2", FALSE, u"Capture"},
      {"/x/liblib.sox.so", FALSE, u"lib"},
      {"/x/lib\xC3\xA9t\xC3\xA9.so", FALSE, u"\u00e9t\u00e9"},
      {"/usr/bin/libtool.so.run", TRUE, u"libtool.so.run"},
  };
  for (const auto &c : cases) {
    CPlainApp app;
    AfxSetModuleFile(c.file, c.executable);
    DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr);
    EXPECT_EQ(c.name, Name(app.m_pszExeName)) << c.file;
    EXPECT_EQ(c.name, Name(app.m_pszAppName)) << c.file;
    DllMain(kInstance, DLL_PROCESS_DETACH, nullptr);
  }
  CPlainApp named(u"Given");
  AfxSetModuleFile("/lib/libKestrel.so", FALSE);
  DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr);
  DllMain(kInstance, DLL_PROCESS_DETACH, nullptr);
  EXPECT_EQ(u"Given", Name(named.m_pszAppName));
}

TEST(DllMain, FailedAllocationLeavesANameNull) {
  for (unsigned nth = 1; nth <= 2; ++nth) {
    CPlainApp app;
    KTestResetFaults();
    KTestFailNth(KTEST_OP_MALLOC, nth);
    AfxSetModuleFile("/lib/libKestrel.so", FALSE);
    EXPECT_TRUE(DllMain(kInstance, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(2u, KTestCallCount(KTEST_OP_MALLOC));
    EXPECT_EQ(nth == 1 ? u"<null>" : u"Kestrel", Name(app.m_pszExeName));
    EXPECT_EQ(nth == 2 ? u"<null>" : u"Kestrel", Name(app.m_pszAppName));
    EXPECT_EQ(1, app.inits);
    DllMain(kInstance, DLL_PROCESS_DETACH, nullptr);
  }
}

}  // namespace
