@echo off
rem Acceptance of tarvel on a reference machine of one Windows release (XP and later).
rem Run it as an administrator from the kit's folder, beside tarvel.exe, tarvel-check.exe
rem and, when there, the package tarvel-*.msi. It passes the program through preload and
rem normal mode, and the package through install and uninstall, checking the machine with
rem tarvel-check.exe after each step; then it puts the marker back as it found it and runs
rem a last pass, so that the machine ends as its marker asks. The log and the saved port
rem keys go to logs\ beside it. Exit status: 0 when every step passed, else 1 (5 when not
rem run as an administrator).
rem Statuses are compared with 0: "if errorlevel 1" takes every negative HRESULT for success.
setlocal EnableExtensions EnableDelayedExpansion

set "KIT=%~dp0"
set "LOGS=%KIT%logs"
set "LOG=%LOGS%\acceptance.log"
set "PORTS=HKLM\SYSTEM\CurrentControlSet\Services\iaStor\Parameters"
set "MARKER=C:\Preload"
rem A 32-bit program on 64-bit Windows looks for C:\Preload64, whichever cmd runs this.
if defined PROCESSOR_ARCHITEW6432 set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="IA64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "MARKER=C:\Preload64"
set /a PASSED=0
set /a FAILED=0

rem Only an administrator may write under HKLM\SOFTWARE; reg.exe is never virtualized.
reg add "HKLM\SOFTWARE\Ombrix Tarvel Acceptance" /f >nul 2>&1
if not "%errorlevel%"=="0" (
    echo acceptance: run this from an elevated command prompt ^(Run as administrator^).
    exit /b 5
)
reg delete "HKLM\SOFTWARE\Ombrix Tarvel Acceptance" /f >nul 2>&1
if not exist "%KIT%tarvel.exe" (
    echo acceptance: tarvel.exe is not beside acceptance.cmd.
    exit /b 2
)
if not exist "%KIT%tarvel-check.exe" (
    echo acceptance: tarvel-check.exe is not beside acceptance.cmd.
    exit /b 2
)

if not exist "%LOGS%" mkdir "%LOGS%"
echo tarvel acceptance, %DATE% %TIME% > "%LOG%"
ver >> "%LOG%"
echo PROCESSOR_ARCHITECTURE=%PROCESSOR_ARCHITECTURE% PROCESSOR_ARCHITEW6432=%PROCESSOR_ARCHITEW6432% >> "%LOG%"

set "FOUND=absent"
if exist "%MARKER%" set "FOUND=file"
if exist "%MARKER%\" set "FOUND=directory"
call :say "marker %MARKER%: %FOUND%"
if exist "%LOGS%\ports-before.reg" del "%LOGS%\ports-before.reg"
reg export "%PORTS%" "%LOGS%\ports-before.reg" >nul 2>&1
if "%errorlevel%"=="0" (
    call :say "port keys saved to !LOGS!\ports-before.reg"
) else (
    call :say "no port keys to save: !PORTS! is not there"
)

call :marker present
call :pass "first preload pass"
call :check "check after the first preload pass"
call :pass "second preload pass"
call :check "check after the second preload pass"
call :marker absent
call :pass "normal pass"
call :check "check after the normal pass"

set "PACKAGE="
rem From the kit's own folder: a quoted pattern with a path is not matched everywhere.
pushd "%KIT%"
for %%p in (tarvel-*.msi) do set "PACKAGE=%%~fp"
popd
if defined PACKAGE (
    call :marker present
    call :package install /i
    call :check "check after the install"
    call :package uninstall /x
    call :marker absent
    call :nostartup "no start-up left after the uninstall"
) else (
    call :say "no package beside the kit: install and uninstall skipped"
)

if "%FOUND%"=="absent" call :marker absent
if "%FOUND%"=="directory" call :marker present
if "%FOUND%"=="file" (
    if exist "%MARKER%\" rmdir "%MARKER%"
    if not exist "%MARKER%" type nul > "%MARKER%"
)
call :pass "last pass, with the marker as it was found"
call :check "check with the marker as it was found"

call :say "%PASSED% passed, %FAILED% failed"
if not "%FAILED%"=="0" exit /b 1
exit /b 0

rem --- steps ---------------------------------------------------------------

:marker
if "%1"=="present" (
    if not exist "%MARKER%" mkdir "%MARKER%"
) else (
    if exist "%MARKER%\" rmdir "%MARKER%"
    if exist "%MARKER%" del "%MARKER%"
)
call :say "marker %MARKER% made %1"
goto :eof

rem tarvel.exe and msiexec have no console: start /wait is what waits for them.
:pass
echo --- %~1 >> "%LOG%"
start "" /wait "%KIT%tarvel.exe"
call :result %1 !errorlevel!
goto :eof

:package
echo --- %1 of !PACKAGE! >> "%LOG%"
start "" /wait msiexec %2 "!PACKAGE!" /qn /l*v "%LOGS%\%1.log"
call :result "%1 of the package" !errorlevel!
goto :eof

:check
echo --- %~1 >> "%LOG%"
"%KIT%tarvel-check.exe" >> "%LOG%" 2>&1
call :result %1 !errorlevel!
goto :eof

rem With the marker gone, the ports are set with reg.exe as a normal pass sets them, so that
rem the check can say 0 only when no start-up of the program is left.
:nostartup
echo --- %~1 >> "%LOG%"
for %%n in (0 1 2 3 4 5) do (
    reg add "%PORTS%\Port%%n" /v DIPM /t REG_DWORD /d 1 /f >nul
    reg add "%PORTS%\Port%%n" /v LPM /t REG_DWORD /d 1 /f >nul
)
"%KIT%tarvel-check.exe" >> "%LOG%" 2>&1
call :result %1 !errorlevel!
goto :eof

:result
if "%2"=="0" (
    set /a PASSED+=1
    call :say "PASS  %~1 (exit status %2)"
) else (
    set /a FAILED+=1
    call :say "FAIL  %~1 (exit status %2)"
)
goto :eof

:say
echo %~1
echo %~1 >> "%LOG%"
goto :eof
