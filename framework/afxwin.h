#pragma once
// The slice of the application framework that tarvel uses: one application object whose
// InitInstance does the work, and AfxWinMain to run it. No windows, no message loop.
#include <windows.h>

class CWinApp {
public:
    explicit CWinApp(LPCSTR appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    virtual int ExitInstance();

    LPCSTR m_pszAppName;
};

CWinApp* AfxGetApp();

int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
