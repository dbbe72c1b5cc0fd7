#pragma once
#include "framework/afxwin.h"

// Does the program's whole job in InitInstance and declines to go on, so that the
// framework ends the process without a window or a message loop; ExitInstance then hands
// the pass's outcome to the process's exit status.
class CTarvelApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};
