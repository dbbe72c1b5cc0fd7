#pragma once
// Our own stand-in for the slice of the Windows application framework (MFC) that tarvel uses,
// written here since mingw-w64 has no MFC: one application object whose InitInstance does the
// work, and AfxWinMain to run it. No windows, no message loop. The names are the framework's
// so that the program reads as it would against it; nothing else of MFC is here.
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
