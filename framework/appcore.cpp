#include "afxwin.h"

namespace {
// Set by the one application object's constructor during static initialisation.
CWinApp* currentApp = nullptr;
}  // namespace

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { currentApp = this; }

CWinApp::~CWinApp()
{
    if (currentApp == this) {
        currentApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return currentApp; }

int AfxWinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return -1;
    }
    // No message loop is ever run here: whether InitInstance declines to go on or not,
    // the framework's exit path follows and alone gives the exit status.
    app->InitInstance();
    return app->ExitInstance();
}
