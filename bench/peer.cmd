@echo off
rem What a user would write instead of tarvel: the same writes with reg.exe.
set PORTS=HKLM\SYSTEM\CurrentControlSet\Services\iaStor\Parameters
set RUN=HKLM\Software\Microsoft\Windows\CurrentVersion\Run
if exist C:\Preload\ (set VALUE=0) else (set VALUE=1)
for %%P in (0 1 2 3 4 5) do (
    reg add "%PORTS%\Port%%P" /v DIPM /t REG_DWORD /d %VALUE% /f >nul
    reg add "%PORTS%\Port%%P" /v LPM /t REG_DWORD /d %VALUE% /f >nul
)
if %VALUE%==0 (
    reg add "%RUN%" /v Tarvel /t REG_SZ /d "%~dp0tarvel.exe" /f >nul
) else (
    reg delete "%RUN%" /v Tarvel /f >nul 2>nul
)
exit /b 0
