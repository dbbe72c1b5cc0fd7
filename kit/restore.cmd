@echo off
rem Undoes what an acceptance run changed and did not undo itself, because it was cut short
rem (Ctrl+C, a closed window, a power cut), as the run recorded it in run.state beside this
rem script before each change: it uninstalls the package if the kit installed it, removes a
rem marker the kit made (moving aside first whatever someone put in it, and saying where),
rem puts back a marker the kit moved aside, and runs tarvel once, so that the logon start-up
rem is as the marker asks. Then it removes run.state, and a new acceptance run may start.
rem Without run.state it only puts back a marker left aside and runs tarvel once.
rem
rem "restore.cmd ports" then puts the port values saved before the run (ports-before.reg)
rem back, as its very last step: the next pass of tarvel sets them again.
rem
rem The kit copies this script into its logs\ folder. Run it there as an administrator. Each
rem line it prints is what it saw after the step, not what it meant to do. Exit status: 0 when
rem all is undone, 1 when something could not be (run.state then stays).
setlocal EnableExtensions DisableDelayedExpansion

set "HERE=%~dp0"
set "WANT_PORTS="
if /i "%~1"=="ports" set "WANT_PORTS=yes"
set "STATE=%~dp0run.state"
set "UPGRADE_KEY=HKLM\SOFTWARE\Classes\Installer\UpgradeCodes\25E7D1C6A8B3E0F4D9A2E5B4C7A9F103"
rem As the kit names them, when it recorded nothing.
set "MARKER=C:\Preload"
if defined PROCESSOR_ARCHITEW6432 set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="IA64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "MARKER=C:\Preload64"
set "ASIDE=%MARKER%.acceptance"
set "FOUND="
set "LAST=%~dp0..\tarvel.exe"
set "INSTALLED="
set "PACKAGE="
set /a PROBLEMS=0

if not exist "%STATE%" goto noState
rem Each line is NAME=value; a later line overrides an earlier one.
for /f "usebackq delims=" %%l in ("%STATE%") do set "%%l"
call :say "restore: undoing the unfinished run recorded in %STATE%"
if "%INSTALLED%"=="yes" call :uninstall
if "%FOUND%"=="absent" (call :removeOwnMarker) else (call :putMarkerBack)
goto pass

:noState
call :say "restore: no unfinished run is recorded; the marker goes back if it was left aside"
if exist "%ASIDE%" call :putMarkerBack

:pass
if not exist "%LAST%" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  %LAST% is not there: no pass could put the start-up in line"
    goto done
)
start "" /wait "%LAST%" <nul
call :say "restore: tarvel ended with %errorlevel%: the start-up is as the marker asks"

:done
if exist "%STATE%" if "%PROBLEMS%"=="0" del "%STATE%" <nul
if exist "%STATE%" if "%PROBLEMS%"=="0" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  %STATE% could not be removed"
)
if exist "%STATE%" call :say "restore: %STATE% stays: a new acceptance run waits until all is undone"
if defined WANT_PORTS call :ports
if not "%PROBLEMS%"=="0" exit /b 1
exit /b 0

rem --- steps ---------------------------------------------------------------

:uninstall
if defined PACKAGE if exist "%PACKAGE%" start "" /wait msiexec /x "%PACKAGE%" /qn <nul
reg query "%UPGRADE_KEY%" >nul 2>&1 <nul
if errorlevel 1 (
    call :say "restore: Ombrix Tarvel, which the kit installed, is not installed"
) else (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  Ombrix Tarvel, which the kit installed, is still installed: uninstall it"
)
goto :eof

rem A marker the kit made: removed while empty; what someone put in it is kept under another
rem name, never deleted.
:removeOwnMarker
if exist "%MARKER%\" rmdir "%MARKER%" 2>nul <nul
if not exist "%MARKER%" goto ownMarkerGone
set "KEPT_NAME=%MARKER:~3%.kit-contents"
if exist "C:\%KEPT_NAME%" set "KEPT_NAME=%MARKER:~3%.kit-contents-%RANDOM%"
ren "%MARKER%" "%KEPT_NAME%" <nul
if exist "C:\%KEPT_NAME%" call :say "restore: %MARKER%, which the kit made, held what someone put there: it is kept as C:\%KEPT_NAME%"
:ownMarkerGone
if exist "%MARKER%" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  marker %MARKER% is still there; the kit made it, and it was not there before"
) else (
    call :say "restore: marker %MARKER% absent again, as it was found"
)
goto :eof

:putMarkerBack
if exist "%ASIDE%" if not exist "%MARKER%" ren "%ASIDE%" "%MARKER:~3%" <nul
if exist "%MARKER%" if not exist "%ASIDE%" (
    call :say "restore: marker %MARKER% back as it was found"
    goto :eof
)
if not exist "%ASIDE%" if not exist "%MARKER%" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  marker %MARKER% is not there, nor %ASIDE%"
    goto :eof
)
set /a PROBLEMS+=1
call :say "restore: FAIL  %ASIDE% could not be moved back to %MARKER%"
goto :eof

:ports
if not exist "%HERE%ports-before.reg" (
    call :say "restore: no port values were saved before the run (the driver's keys were not there)"
    goto :eof
)
reg import "%HERE%ports-before.reg" >nul 2>&1 <nul
if errorlevel 1 (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  the port values saved before the run could not be put back"
    goto :eof
)
call :say "restore: the port values are back as before the run; the next pass of tarvel sets them again"
goto :eof

rem Any text, "&", "!" and parentheses included: a FOR variable takes its value after the
rem line is parsed, so nothing in it is read as syntax.
:say
for /f "delims=" %%l in ("%~1") do echo %%l
goto :eof
