@echo off
rem Acceptance of tarvel on a reference machine of one Windows release (XP and later).
rem Run it as an administrator from the kit's folder, beside tarvel.exe, tarvel-check.exe,
rem restore.cmd and, when there, the package tarvel-*.msi. It passes the program through
rem preload and normal mode, and the package through install and uninstall, checking the
rem machine with tarvel-check.exe after each step; then it puts the marker back as it found
rem it and runs a last pass, so that the machine ends as its marker asks. The log and the
rem saved port keys go to logs\ beside it. Exit status: 0 when every step passed, else 1 (5
rem when not run as an administrator, 2 when the kit is not whole or cannot keep its log, 3
rem when an earlier run was cut short and its changes are not undone yet).
rem
rem It never deletes what the marker holds: a marker it found (a directory with whatever it
rem holds, or a file, read-only or not) is renamed aside to C:\Preload.acceptance and back;
rem only a marker directory the kit made itself is removed, and only while it is empty. A
rem product installed on the machine is left alone: install and uninstall are skipped, and
rem the last pass is the installed program's.
rem
rem A run records what it is about to change in logs\run.state before it changes it: the
rem marker as found, the package it installs. A run that ends removes the file; while it is
rem there, a new run changes nothing and stops with 3, and logs\restore.cmd undoes what it
rem names. Without a log it can write, the kit changes nothing.
rem
rem Statuses are compared as text with 0: "if errorlevel 1" and a signed comparison take
rem every negative HRESULT for success. Delayed expansion stays off, so that a "!" in the
rem kit's folder name survives; paths are only ever used within quotes.
setlocal EnableExtensions DisableDelayedExpansion

set "KIT=%~dp0"
set "LOGS=%~dp0logs"
set "LOG=%~dp0logs\acceptance.log"
set "STATE=%~dp0logs\run.state"
set "UPGRADE_KEY=HKLM\SOFTWARE\Classes\Installer\UpgradeCodes\25E7D1C6A8B3E0F4D9A2E5B4C7A9F103"
set "PORTS=HKLM\SYSTEM\CurrentControlSet\Services\iaStor\Parameters"
set "MARKER=C:\Preload"
set "ASIDE_NAME=Preload.acceptance"
rem A 32-bit program on 64-bit Windows looks for C:\Preload64, whichever cmd runs this.
if defined PROCESSOR_ARCHITEW6432 set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="IA64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "MARKER=C:\Preload64"
if "%MARKER%"=="C:\Preload64" set "ASIDE_NAME=Preload64.acceptance"
set "ASIDE=C:\%ASIDE_NAME%"
set /a PASSED=0
set /a FAILED=0

rem Only an administrator may write under HKLM\SOFTWARE; reg.exe is never virtualized.
reg add "HKLM\SOFTWARE\Ombrix Tarvel Acceptance" /f >nul 2>&1 <nul
if not "%errorlevel%"=="0" (
    echo acceptance: run this from an elevated command prompt ^(Run as administrator^).
    exit /b 5
)
reg delete "HKLM\SOFTWARE\Ombrix Tarvel Acceptance" /f >nul 2>&1 <nul
if not exist "%KIT%tarvel.exe" (
    echo acceptance: tarvel.exe is not beside acceptance.cmd.
    exit /b 2
)
if not exist "%KIT%tarvel-check.exe" (
    echo acceptance: tarvel-check.exe is not beside acceptance.cmd.
    exit /b 2
)
if not exist "%KIT%restore.cmd" (
    echo acceptance: restore.cmd is not beside acceptance.cmd.
    exit /b 2
)
if exist "%STATE%" (
    echo acceptance: an earlier run was cut short before it undid its changes: run logs\restore.cmd first, as an administrator. Nothing was changed.
    exit /b 3
)
if exist "%ASIDE%" (
    echo acceptance: %ASIDE% is there: an earlier run was cut short. Run logs\restore.cmd first.
    exit /b 3
)

rem Without a log that says what it changed, a run cut short could not be undone.
if not exist "%LOGS%\" mkdir "%LOGS%" >nul 2>&1 <nul
if exist "%LOGS%\write.test" del "%LOGS%\write.test" >nul 2>&1 <nul
echo written> "%LOGS%\write.test" 2>nul
if not exist "%LOGS%\write.test" (
    echo acceptance: it cannot write its log in its logs folder ^(read-only media, or a file of that name^). Copy the kit to a writable folder and run it there. Nothing was changed.
    exit /b 2
)
del "%LOGS%\write.test" <nul
copy /y "%KIT%restore.cmd" "%LOGS%\restore.cmd" >nul <nul
echo tarvel acceptance, %DATE% %TIME% > "%LOG%"
ver >> "%LOG%"
echo PROCESSOR_ARCHITECTURE=%PROCESSOR_ARCHITECTURE% PROCESSOR_ARCHITEW6432=%PROCESSOR_ARCHITEW6432% >> "%LOG%"

set "FOUND=absent"
if exist "%MARKER%" set "FOUND=file"
if exist "%MARKER%\" set "FOUND=directory"
call :say "marker %MARKER%: %FOUND%"

rem A deployed product: its upgrade code is registered, or it keeps its folder.
set "INSTALLED="
set "INSTALLDIR="
reg query "%UPGRADE_KEY%" >nul 2>&1 <nul
if "%errorlevel%"=="0" set "INSTALLED=yes"
for %%k in ("HKLM\SOFTWARE\Ombrix\Tarvel" "HKLM\SOFTWARE\Wow6432Node\Ombrix\Tarvel") do (
    for /f "tokens=1,2,*" %%a in ('reg query "%%~k" /v InstallDir 2^>nul ^<nul') do (
        if /i "%%a"=="InstallDir" (
            set "INSTALLED=yes"
            set "INSTALLDIR=%%c"
        )
    )
)
set "LAST=%KIT%tarvel.exe"
if defined INSTALLDIR if exist "%INSTALLDIR%tarvel.exe" set "LAST=%INSTALLDIR%tarvel.exe"
if defined INSTALLED call :say "Ombrix Tarvel is installed here: the kit leaves it installed, and its last pass runs %LAST%"

rem What restore.cmd needs to undo a run cut short at any later point, written before the
rem first change.
> "%STATE%" echo FOUND=%FOUND%
call :record "MARKER=%MARKER%"
call :record "ASIDE=%ASIDE%"
call :record "LAST=%LAST%"
if not exist "%STATE%" (
    call :say "acceptance: %STATE% could not be written. Nothing was changed."
    exit /b 2
)
call :say "if the run is cut short, %LOGS%\restore.cmd undoes what it changed"
if exist "%LOGS%\ports-before.reg" del "%LOGS%\ports-before.reg" <nul
reg export "%PORTS%" "%LOGS%\ports-before.reg" >nul 2>&1 <nul
if "%errorlevel%"=="0" (
    call :say "port keys saved to %LOGS%\ports-before.reg"
) else (
    call :say "no port keys to save: %PORTS% is not there"
)

call :marker present
call :pass "first preload pass" "%KIT%tarvel.exe"
call :check "check after the first preload pass"
call :pass "second preload pass" "%KIT%tarvel.exe"
call :check "check after the second preload pass"
call :marker absent
call :pass "normal pass" "%KIT%tarvel.exe"
call :check "check after the normal pass"

set "PACKAGE="
rem From the kit's own folder: a quoted pattern with a path is not matched everywhere.
pushd "%KIT%"
for %%p in (tarvel-*.msi) do set "PACKAGE=%%~fp"
popd
if defined INSTALLED (
    call :say "install and uninstall skipped: the product installed here stays as it is"
) else if defined PACKAGE (
    call :marker present
    call :record "PACKAGE=%PACKAGE%"
    call :record "INSTALLED=yes"
    call :package install /i
    call :check "check after the install"
    call :package uninstall /x
    call :uninstalled
    call :marker absent
    call :check "no start-up left after the uninstall" noports
) else (
    call :say "no package beside the kit: install and uninstall skipped"
)

if "%FOUND%"=="absent" (call :marker absent) else (call :marker present)
call :pass "last pass, with the marker as it was found" "%LAST%"
call :check "check with the marker as it was found"

rem Whatever failed, the machine is back as found: nothing is left for restore.cmd to undo.
del "%STATE%" <nul
call :say "%PASSED% passed, %FAILED% failed"
call :say "%LOGS%\restore.cmd ports puts the port values saved before the run back (run it as an administrator)"
if not "%FAILED%"=="0" exit /b 1
exit /b 0

rem --- steps ---------------------------------------------------------------

rem Present: the marker found (moved back from aside), or one the kit makes; absent: the
rem marker found moved aside, or the kit's own removed. Then it must be so, or the steps
rem that need it fail.
:marker
set "WANT=%1"
if "%WANT%"=="present" (
    if "%FOUND%"=="absent" (
        if not exist "%MARKER%" mkdir "%MARKER%" <nul
    ) else (
        if exist "%ASIDE%" if not exist "%MARKER%" ren "%ASIDE%" "%MARKER:~3%" <nul
    )
) else (
    if "%FOUND%"=="absent" (
        if exist "%MARKER%\" rmdir "%MARKER%" <nul
    ) else (
        if exist "%MARKER%" if not exist "%ASIDE%" ren "%MARKER%" "%ASIDE_NAME%" <nul
    )
)
set "MARKER_OK=no"
if "%WANT%"=="present" if exist "%MARKER%" set "MARKER_OK=yes"
if "%WANT%"=="absent" if not exist "%MARKER%" set "MARKER_OK=yes"
if "%WANT%"=="present" (set "MODE=preload") else (set "MODE=normal")
if "%MARKER_OK%"=="yes" (
    call :say "marker %MARKER% made %WANT%"
) else (
    set /a FAILED+=1
    call :say "FAIL  marker %MARKER% could not be made %WANT%"
)
goto :eof

rem tarvel.exe and msiexec have no console: start /wait is what waits for them.
:pass
echo --- %~1 >> "%LOG%"
if not "%MARKER_OK%"=="yes" (
    call :skipped %1
    goto :eof
)
start "" /wait "%~2" <nul
call :result %1 %errorlevel%
goto :eof

:package
echo --- %1 >> "%LOG%"
if not "%MARKER_OK%"=="yes" (
    call :skipped "%1 of the package"
    goto :eof
)
start "" /wait msiexec %2 "%PACKAGE%" /qn /l*v "%LOGS%\%1.log" <nul
call :result "%1 of the package" %errorlevel%
goto :eof

rem The check is judged by its exit status and the mode it saw (its first line names it), not
rem by whether its lines could be kept; noports: the ports are first set with reg.exe as a
rem normal pass sets them, so that the check can say 0 only when no start-up of the program
rem is left.
:check
echo --- %~1 >> "%LOG%"
if not "%MARKER_OK%"=="yes" (
    call :skipped %1
    goto :eof
)
if "%2"=="noports" (
    for %%n in (0 1 2 3 4 5) do (
        reg add "%PORTS%\Port%%n" /v DIPM /t REG_DWORD /d 1 /f >nul <nul
        reg add "%PORTS%\Port%%n" /v LPM /t REG_DWORD /d 1 /f >nul <nul
    )
)
if exist "%LOGS%\check.txt" del "%LOGS%\check.txt" >nul 2>&1 <nul
type nul> "%LOGS%\check.txt" 2>nul
if not exist "%LOGS%\check.txt" goto checkUnsaved
"%KIT%tarvel-check.exe" > "%LOGS%\check.txt" 2>&1 <nul
set "STATUS=%errorlevel%"
type "%LOGS%\check.txt" >> "%LOG%"
find "(%MODE% mode)" "%LOGS%\check.txt" >nul 2>&1 <nul
goto checkJudged
:checkUnsaved
call :say "NOTE  the lines of the %~1 could not be saved; it is judged all the same"
"%KIT%tarvel-check.exe" >nul 2>&1 <nul
set "STATUS=%errorlevel%"
"%KIT%tarvel-check.exe" 2>nul <nul | find "(%MODE% mode)" >nul 2>&1
:checkJudged
if not "%errorlevel%"=="0" (
    set /a FAILED+=1
    call :say "FAIL  %~1 (the check did not see %MODE% mode; exit status %STATUS%)"
    goto :eof
)
call :result %1 %STATUS%
goto :eof

rem The package the kit installed is gone again: nothing for restore.cmd to uninstall.
:uninstalled
reg query "%UPGRADE_KEY%" >nul 2>&1 <nul
if errorlevel 1 call :record "INSTALLED=no"
goto :eof

rem One line NAME=value of run.state, for restore.cmd; any path, as :say takes it.
:record
for /f "delims=" %%l in ("%~1") do >> "%STATE%" echo %%l
goto :eof

:skipped
set /a FAILED+=1
call :say "FAIL  %~1 (not run: the marker is not as the step needs)"
goto :eof

:result
if "%~2"=="0" (
    set /a PASSED+=1
    call :say "PASS  %~1 (exit status %~2)"
) else (
    set /a FAILED+=1
    call :say "FAIL  %~1 (exit status %~2)"
)
goto :eof

rem Any text, "&", "!" and parentheses included: a FOR variable takes its value after the
rem line is parsed, so nothing in it is read as syntax.
:say
for /f "delims=" %%l in ("%~1") do (
    echo %%l
    >> "%LOG%" echo %%l
)
goto :eof
