// The application framework linked into the module: strings, device-context
// objects, the application class and the module's entry point.
#pragma once

#include "afxstr.h"
#include "windows.h"

class CObject;

struct CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema;
  CObject *(*m_pfnCreateObject)();
  CRuntimeClass *m_pBaseClass;
};

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  UINT nCode;
  UINT nID;
  UINT nLastID;
  UINT nSig;
  void (*pfn)();
};

struct AFX_MSGMAP {
  const AFX_MSGMAP *pBaseMap;
  const AFX_MSGMAP_ENTRY *lpEntries;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)

#define DECLARE_MESSAGE_MAP()                      \
 private:                                          \
  static const AFX_MSGMAP_ENTRY _messageEntries[]; \
                                                   \
 protected:                                        \
  static const AFX_MSGMAP messageMap;              \
  const AFX_MSGMAP *GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                             \
  const AFX_MSGMAP *theClass::GetMessageMap() const {                      \
    return &theClass::messageMap;                                          \
  }                                                                        \
  const AFX_MSGMAP theClass::messageMap = {&baseClass::messageMap,         \
                                           &theClass::_messageEntries[0]}; \
  const AFX_MSGMAP_ENTRY theClass::_messageEntries[] = {
#define END_MESSAGE_MAP()    \
  { 0, 0, 0, 0, 0, nullptr } \
  }                          \
  ;

class CObject {
 public:
  virtual CRuntimeClass *GetRuntimeClass() const;
  virtual ~CObject();

  static CRuntimeClass classCObject;

 protected:
  CObject() = default;

 private:
  CObject(const CObject &) = delete;
  CObject &operator=(const CObject &) = delete;
};

class CCmdTarget : public CObject {
 public:
  CRuntimeClass *GetRuntimeClass() const override;
  static CRuntimeClass classCCmdTarget;

 protected:
  static const AFX_MSGMAP messageMap;
  virtual const AFX_MSGMAP *GetMessageMap() const;

 private:
  static const AFX_MSGMAP_ENTRY _messageEntries[];
};

class CWinThread : public CCmdTarget {
 public:
  CRuntimeClass *GetRuntimeClass() const override;
  static CRuntimeClass classCWinThread;

  virtual BOOL InitInstance();
  virtual int ExitInstance();
};

class CWinApp : public CWinThread {
 public:
  // Makes this object the module's current application. With a null name
  // the names are taken from the module's file name when the module is
  // attached.
  explicit CWinApp(LPCWSTR lpszAppName = nullptr);
  ~CWinApp() override;

  CRuntimeClass *GetRuntimeClass() const override;
  static CRuntimeClass classCWinApp;

  BOOL InitInstance() override;
  int ExitInstance() override;

  LPCWSTR m_pszAppName;
  LPCWSTR m_pszExeName;
  HINSTANCE m_hInstance;
  LPWSTR m_lpCmdLine;
  int m_nCmdShow;

 protected:
  static const AFX_MSGMAP messageMap;
  const AFX_MSGMAP *GetMessageMap() const override;

 private:
  static const AFX_MSGMAP_ENTRY _messageEntries[];
  friend struct AfxModuleState;
};

// The module's current application object, or NULL.
CWinApp *AfxGetApp();

// The framework's state of the module; its fields are the framework's own.
struct AfxModuleState;
typedef AfxModuleState AFX_MODULE_STATE;
AFX_MODULE_STATE *AfxGetStaticModuleState();

// Made by AFX_MANAGE_STATE at the top of an exported function: the module's
// state is the current one until the function returns. On this platform the
// calling thread's cancellation is also held off until then, so that no
// call is abandoned halfway with its handles held and its busy mark set; a
// cancellation asked for meanwhile takes effect after the return. SIGPIPE
// is held back on the thread until then too (the call's writes to a gone
// reader fail with EPIPE instead).
class AFX_MAINTAIN_STATE2 {
 public:
  explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE *pModuleState);
  ~AFX_MAINTAIN_STATE2();

 private:
  AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2 &) = delete;
  AFX_MAINTAIN_STATE2 &operator=(const AFX_MAINTAIN_STATE2 &) = delete;
  int m_nPrevCancelState;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _ctlState(p);

class CDC {
 public:
  CDC();
  virtual ~CDC();

  // Takes hDC into the object; refuses (FALSE) a null handle or an object
  // that already holds one.
  BOOL Attach(HDC hDC);
  HDC Detach();
  // Detaches the context and deletes it; does nothing when none is attached.
  BOOL DeleteDC();
  HDC GetSafeHdc() const { return m_hDC; }

  HDC m_hDC;

 private:
  CDC(const CDC &) = delete;
  CDC &operator=(const CDC &) = delete;
};

// The framework's entry point of the module, called by the platform at load
// (after the module's static objects are built) and at unload (before they
// are destroyed).
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason,
                               LPVOID lpReserved);
