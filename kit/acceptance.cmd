@echo off
rem Acceptance of tarvel on a reference machine of one Windows release (XP and later).
rem Run it as an administrator from the kit's folder, beside tarvel.exe, tarvel-check.exe
rem and, when there, the package tarvel-*.msi. It passes the program through preload and
rem normal mode, and the package through install and uninstall, checking the machine with
rem tarvel-check.exe after each step; then it puts the marker back as it found it and runs
rem a last pass, so that the machine ends as its marker asks. The log and the saved port
rem keys go to logs\ beside it. Exit status: 0 when every step passed, else 1 (5 when not
rem run as an administrator, 2 when the kit is not whole, 3 when an earlier run left the
rem marker aside).
rem
rem It never deletes what the marker holds: a marker it found (a directory with whatever it
rem holds, or a file, read-only or not) is renamed aside to C:\Preload.acceptance and back;
rem only a marker directory the kit made itself is removed, and only while it is empty.
rem Before its first change it writes logs\restore.cmd, which puts the marker back as it
rem was found should the run be cut short. A product installed on the machine is left
rem alone: install and uninstall are skipped, and the last pass is the installed program's.
rem
rem Statuses are compared as text with 0: "if errorlevel 1" and a signed comparison take
rem every negative HRESULT for success. Delayed expansion stays off, so that a "!" in the
rem kit's folder name survives; paths are only ever used within quotes.
setlocal EnableExtensions DisableDelayedExpansion

set "KIT=%~dp0"
set "LOGS=%~dp0logs"
set "LOG=%~dp0logs\acceptance.log"
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
if exist "%ASIDE%" (
    echo acceptance: %ASIDE% is there: an earlier run was cut short. Run logs\restore.cmd first.
    exit /b 3
)

if not exist "%LOGS%" mkdir "%LOGS%"
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
reg query "HKLM\SOFTWARE\Classes\Installer\UpgradeCodes\25E7D1C6A8B3E0F4D9A2E5B4C7A9F103" >nul 2>&1 <nul
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

call :writeRestore
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
    call :package install /i
    call :check "check after the install"
    call :package uninstall /x
    call :marker absent
    call :check "no start-up left after the uninstall" noports
) else (
    call :say "no package beside the kit: install and uninstall skipped"
)

if "%FOUND%"=="absent" (call :marker absent) else (call :marker present)
call :pass "last pass, with the marker as it was found" "%LAST%"
call :check "check with the marker as it was found"

call :say "%PASSED% passed, %FAILED% failed"
call :say "should the marker not be as it was found, %LOGS%\restore.cmd puts it back (run it as an administrator)"
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

rem The check must also have seen the mode the step meant; noports: the ports are first set
rem with reg.exe as a normal pass sets them, so that the check can say 0 only when no
rem start-up of the program is left.
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
"%KIT%tarvel-check.exe" > "%LOGS%\check.txt" 2>&1 <nul
set "STATUS=%errorlevel%"
type "%LOGS%\check.txt" >> "%LOG%"
find "(%MODE% mode)" "%LOGS%\check.txt" >nul 2>&1 <nul
if not "%errorlevel%"=="0" (
    set /a FAILED+=1
    call :say "FAIL  %~1 (the check did not see %MODE% mode; exit status %STATUS%)"
    goto :eof
)
call :result %1 %STATUS%
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

rem logs\restore.cmd: the marker back as it was found, then one pass of the program that the
rem last pass runs. Written before the first change, from fixed lines and the found state.
:writeRestore
set "RESTORE=%LOGS%\restore.cmd"
> "%RESTORE%" echo @echo off
>> "%RESTORE%" echo rem Puts the marker back as the acceptance kit found it, then runs tarvel once, so that
>> "%RESTORE%" echo rem the machine is as its marker asks. Run it as an administrator.
>> "%RESTORE%" echo rem The port keys as they were before the kit ran are in ports-before.reg beside this
>> "%RESTORE%" echo rem script. To put them back as well, run "restore.cmd ports", which also runs
>> "%RESTORE%" echo rem reg import "ports-before.reg" (this keeps values the kit added where none were).
>> "%RESTORE%" echo setlocal EnableExtensions DisableDelayedExpansion
>> "%RESTORE%" echo set "FOUND=%FOUND%"
>> "%RESTORE%" echo set "MARKER=%MARKER%"
>> "%RESTORE%" echo set "ASIDE=%ASIDE%"
>> "%RESTORE%" echo set "LAST=%%~dp0..\tarvel.exe"
if defined INSTALLDIR >> "%RESTORE%" echo set "INSTALLDIR=%INSTALLDIR%"
if defined INSTALLDIR >> "%RESTORE%" echo if exist "%%INSTALLDIR%%tarvel.exe" set "LAST=%%INSTALLDIR%%tarvel.exe"
>> "%RESTORE%" echo if "%%FOUND%%"=="absent" if exist "%%MARKER%%\" rmdir "%%MARKER%%" ^<nul
>> "%RESTORE%" echo if not "%%FOUND%%"=="absent" if exist "%%ASIDE%%" if not exist "%%MARKER%%" ren "%%ASIDE%%" "%MARKER:~3%" ^<nul
>> "%RESTORE%" echo if "%%FOUND%%"=="absent" if exist "%%MARKER%%" echo restore: %%MARKER%% is not empty; it was not there before the kit ran.
>> "%RESTORE%" echo if not "%%FOUND%%"=="absent" if exist "%%ASIDE%%" echo restore: %%ASIDE%% could not be moved back to %%MARKER%%.
>> "%RESTORE%" echo if /i "%%~1"=="ports" reg import "%%~dp0ports-before.reg"
>> "%RESTORE%" echo start "" /wait "%%LAST%%" ^<nul
>> "%RESTORE%" echo echo restore: marker %%MARKER%% %%FOUND%% again; tarvel ended with %%errorlevel%%.
call :say "if the run is cut short, %RESTORE% puts the marker back as it was found"
goto :eof
