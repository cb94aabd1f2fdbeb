// The module's state from load on: this executable makes no capture before
// these checks, so what they see is what static construction and the
// module's attach left.
#include <gtest/gtest.h>

#include "capture/module_state.h"

namespace {

TEST(ModuleLoad, StatusTextIsEmptyAndFormatIsFixed) {
  EXPECT_TRUE(g_strLastMessage.IsEmpty());
  EXPECT_TRUE(g_strEmpty.IsEmpty());
  ASSERT_EQ(g_strOpenFailFormat.GetLength(), 19);
  const std::u16string format(static_cast<LPCWSTR>(g_strOpenFailFormat));
  EXPECT_EQ(format, u"Can't open file\"%s\"");
}

TEST(ModuleLoad, AppIsCurrentAndAttachedBeforeMain) {
  EXPECT_EQ(AfxGetApp(), &theApp);
  // The attach ran after theApp was built: it named the application after
  // the module's file and gave it its instance.
  ASSERT_NE(theApp.m_pszExeName, nullptr);
  EXPECT_EQ(std::u16string(theApp.m_pszExeName), u"module_load_test");
  ASSERT_NE(theApp.m_pszAppName, nullptr);
  EXPECT_NE(theApp.m_hInstance, nullptr);
  EXPECT_EQ(theApp.m_nCmdShow, 0);
}

TEST(ModuleLoad, AppAnswersWithTheFrameworksClassAndItsOwnEmptyMap) {
  EXPECT_EQ(theApp.GetRuntimeClass(), RUNTIME_CLASS(CWinApp));
  // The map is the app's own, empty, based on CWinApp's.
  struct Peek : CSnapShotApp {
    static const AFX_MSGMAP *Map(const CSnapShotApp &app) {
      return (app.*(&Peek::GetMessageMap))();
    }
    static const AFX_MSGMAP *AppBase() { return &CWinApp::messageMap; }
  };
  const AFX_MSGMAP *map = Peek::Map(theApp);
  ASSERT_NE(map, nullptr);
  EXPECT_NE(map, Peek::AppBase());
  EXPECT_EQ(map->lpEntries[0].nMessage, 0u);
  EXPECT_EQ(map->lpEntries[0].pfn, nullptr);
  EXPECT_EQ(map->pBaseMap, Peek::AppBase());
}

}  // namespace
