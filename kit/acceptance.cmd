@echo off
rem Acceptance of tarvel on a reference machine of one Windows release (XP and later).
rem Run it as an administrator from the kit's folder, beside tarvel.exe, tarvel-check.exe,
rem restore.cmd and, when there, the package tarvel-*.msi. It passes the program through
rem preload and normal mode, and the package through install and uninstall, checking the
rem machine with tarvel-check.exe after each step; then it puts the marker back as it found
rem it and runs a last pass, so that the machine ends as its marker asks. The log goes to
rem logs\ beside it. Exit status: 0 when every step passed, else 1 (5 when not run as an
rem administrator, 2 when the kit is not whole or cannot keep its log, 3 when an earlier run
rem was cut short and its changes are not undone yet).
rem
rem It never deletes what the marker holds: a marker it found (a directory with whatever it
rem holds, or a file, read-only or not) is renamed aside to C:\Preload.acceptance and back;
rem only a marker directory the kit made itself is removed, and only while it is empty. A
rem product installed on the machine is left alone: install and uninstall are skipped.
rem
rem The last pass runs the program the start-up named before the run, else the installed
rem product's: never the kit's own copy where a start-up is wanted, since it would point the
rem start-up at a folder that leaves with the engineer. With neither, there is no last pass.
rem
rem Before its first change a run records in the machine's journal (see restore.cmd), which
rem every kit copy shares and only administrators can write, what restore.cmd needs to undo
rem it: the marker as found, the program of the start-up, the package it installs, the port
rem values. A run whose undoing passed removes its record; while one is there, a new run
rem changes nothing and stops with 3, and restore.cmd of any kit copy undoes what it names.
rem
rem Statuses are compared as text with 0: "if errorlevel 1" and a signed comparison take
rem every negative HRESULT for success. Delayed expansion stays off, so that a "!" in the
rem kit's folder name survives; paths are only ever used within quotes.
setlocal EnableExtensions DisableDelayedExpansion

set "KIT=%~dp0"
set "LOGS=%~dp0logs"
set "LOG=%~dp0logs\acceptance.log"
set /a PASSED=0
set /a FAILED=0
rem Set by a step whose failure may leave the machine unlike it was found: the record stays.
set "KEEP="

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
call "%KIT%restore.cmd" /names
reg query "%RUN_RECORD%" >nul 2>&1 <nul
if "%errorlevel%"=="0" (
    echo acceptance: an earlier run, from the kit folder its record names, was cut short or could not undo its changes:
    reg query "%RUN_RECORD%" <nul
    echo acceptance: run restore.cmd first, as an administrator: this kit's, or that folder's. Nothing was changed.
    exit /b 3
)
if exist "%ASIDE%" (
    echo acceptance: %ASIDE% is there: an earlier run was cut short. Run restore.cmd first.
    exit /b 3
)

rem Without a log that says what it did, a failed step could not be told.
if not exist "%LOGS%\" mkdir "%LOGS%" >nul 2>&1 <nul
if exist "%LOGS%\write.test" del "%LOGS%\write.test" >nul 2>&1 <nul
echo written> "%LOGS%\write.test" 2>nul
if not exist "%LOGS%\write.test" (
    echo acceptance: it cannot write its log in its logs folder ^(read-only media, or a file of that name^). Copy the kit to a writable folder and run it there. Nothing was changed.
    exit /b 2
)
del "%LOGS%\write.test" <nul
echo tarvel acceptance, %DATE% %TIME% > "%LOG%"
ver >> "%LOG%"
echo PROCESSOR_ARCHITECTURE=%PROCESSOR_ARCHITECTURE% PROCESSOR_ARCHITEW6432=%PROCESSOR_ARCHITEW6432% >> "%LOG%"

set "FOUND=absent"
if exist "%MARKER%" set "FOUND=file"
if exist "%MARKER%\" set "FOUND=directory"
call :say "marker %MARKER%: %FOUND%"
call :startupProgram
call "%KIT%restore.cmd" /do installedProgram
set "OWN=%KIT%tarvel.exe"
call "%KIT%restore.cmd" /do lastProgram
if defined INSTALLED call :say "Ombrix Tarvel is installed here: the kit leaves it installed"
if defined LAST (
    call :say "the last pass runs %LAST%"
) else (
    call :say "no last pass: no start-up named a program outside the kit before the run, and Ombrix Tarvel is not installed"
)

rem What restore.cmd needs to undo a run cut short at any later point, whole before the first
rem change. A trailing backslash is doubled: reg.exe would read \" as a quote.
reg delete "%PORTS_RECORD%" /f >nul 2>&1 <nul
reg add "%RUN_RECORD%" /v Kit /t REG_SZ /d "%KIT%\" /f >nul 2>&1 <nul
reg add "%RUN_RECORD%" /v Found /t REG_SZ /d "%FOUND%" /f >nul 2>&1 <nul
reg add "%RUN_RECORD%" /v Program /t REG_SZ /d "%PROGRAM%" /f >nul 2>&1 <nul
reg add "%RUN_RECORD%" /v Whole /t REG_SZ /d yes /f >nul 2>&1 <nul
reg query "%RUN_RECORD%" /v Whole >nul 2>&1 <nul
if not "%errorlevel%"=="0" (
    reg delete "%RUN_RECORD%" /f >nul 2>&1 <nul
    call :say "acceptance: %RUN_RECORD% could not be written. Nothing was changed."
    exit /b 2
)
call :say "if the run is cut short, restore.cmd undoes what it changed, as %RUN_RECORD% records it"
for %%n in (0 1 2 3 4 5) do (
    reg query "%PORTS%\Port%%n" >nul 2>&1 <nul && reg copy "%PORTS%\Port%%n" "%PORTS_RECORD%\Port%%n" /f >nul 2>&1 <nul
)
reg add "%PORTS_RECORD%" /v Whole /t REG_SZ /d yes /f >nul 2>&1 <nul
call :say "port values recorded in %PORTS_RECORD%"

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
    reg add "%RUN_RECORD%" /v Product /t REG_SZ /d "%PRODUCT_CODE%" /f >nul 2>&1 <nul
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
if defined LAST (
    call :pass "last pass, with the marker as it was found" "%LAST%"
    call :check "check with the marker as it was found"
)

rem A step that failed may have left the machine unlike it was found: restore.cmd finishes.
if defined KEEP call :say "%RUN_RECORD% stays, since a step above failed: run restore.cmd as an administrator"
if not defined KEEP reg delete "%RUN_RECORD%" /f >nul 2>&1 <nul
reg query "%RUN_RECORD%" >nul 2>&1 <nul
if "%errorlevel%"=="0" if not defined KEEP (
    set /a FAILED+=1
    call :say "FAIL  %RUN_RECORD% could not be removed"
)
call :say "%PASSED% passed, %FAILED% failed"
call :say "%KIT%restore.cmd ports puts the port values recorded before the run back (run it as an administrator)"
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
    set "KEEP=yes"
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
set "STATUS=%errorlevel%"
if not "%STATUS%"=="0" set "KEEP=yes"
call :result %1 %STATUS%
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
if errorlevel 1 (
    reg delete "%RUN_RECORD%" /v Product /f >nul 2>&1 <nul
    goto :eof
)
set "KEEP=yes"
call :say "FAIL  Ombrix Tarvel, which the kit installed, is still installed: restore.cmd uninstalls it"
goto :eof

rem PROGRAM: the program the start-up names before the run, as the check finds it (a tarvel
rem program, in preload mode), when it lies outside the kit's folder; else -. The check's
rem lines go through the administrator's own temporary folder, which other users cannot write;
rem only the program's lines are compared: another may hold quotes, which an "if" cannot take.
:startupProgram
set "PROGRAM="
set "BEFORE=%TEMP%\tarvel-acceptance-%RANDOM%.txt"
"%KIT%tarvel-check.exe" > "%BEFORE%" 2>&1 <nul
echo --- the machine as found >> "%LOG%"
type "%BEFORE%" >> "%LOG%" 2>nul
for /f "tokens=1-3 delims=:" %%a in ('type "%BEFORE%" ^| find "start-up: program "') do (
    if "%%a"=="start-up" if not defined PROGRAM for %%d in (A B C D E F G H I J K L M N O P Q R S T U V W X Y Z) do (
        if /i "%%b"==" program %%d" set "PROGRAM=%%d:%%c"
    )
)
del "%BEFORE%" >nul 2>&1 <nul
if defined PROGRAM set "PROGRAM=%PROGRAM:"=%"
if not defined PROGRAM set "PROGRAM=-"
if not "%PROGRAM%"=="-" if not exist "%PROGRAM%" set "PROGRAM=-"
if not "%PROGRAM%"=="-" for %%p in ("%PROGRAM%") do if /i "%%~dpp"=="%KIT%" set "PROGRAM=-"
if not "%PROGRAM%"=="-" call :say "the start-up names %PROGRAM%"
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
