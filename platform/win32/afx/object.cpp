// The framework's class records and message maps. All are constant data,
// ready before any static constructor asks for them.
#include "afxwin.h"

namespace {
constexpr UINT kNoSchema = 0xFFFF;
}  // namespace

CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), kNoSchema,
                                       nullptr, nullptr};
CRuntimeClass CCmdTarget::classCCmdTarget = {"CCmdTarget", sizeof(CCmdTarget),
                                             kNoSchema, nullptr,
                                             &CObject::classCObject};
CRuntimeClass CWinThread::classCWinThread = {"CWinThread", sizeof(CWinThread),
                                             kNoSchema, nullptr,
                                             &CCmdTarget::classCCmdTarget};
CRuntimeClass CWinApp::classCWinApp = {"CWinApp", sizeof(CWinApp), kNoSchema,
                                       nullptr, &CWinThread::classCWinThread};

CObject::~CObject() = default;
CRuntimeClass *CObject::GetRuntimeClass() const { return &classCObject; }

CRuntimeClass *CCmdTarget::GetRuntimeClass() const { return &classCCmdTarget; }

// The root of every message-map chain.
const AFX_MSGMAP_ENTRY CCmdTarget::_messageEntries[] = {
    {0, 0, 0, 0, 0, nullptr}};
const AFX_MSGMAP CCmdTarget::messageMap = {nullptr, &_messageEntries[0]};
const AFX_MSGMAP *CCmdTarget::GetMessageMap() const { return &messageMap; }

CRuntimeClass *CWinThread::GetRuntimeClass() const { return &classCWinThread; }
// A thread object without start-up of its own has nothing to run.
BOOL CWinThread::InitInstance() { return FALSE; }
int CWinThread::ExitInstance() { return 0; }

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()
