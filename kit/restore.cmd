@echo off
rem Undoes what an acceptance run changed and did not undo itself, because it was cut short
rem (Ctrl+C, a closed window, a power cut) or a step of its undoing failed, as the run
rem recorded it in the machine's journal before each change. Any copy of the kit, wherever it
rem is now, undoes it: it uninstalls the package by its product code if the kit installed it,
rem removes a marker the kit made (moving aside first whatever someone put in it, and saying
rem where), puts back a marker the kit moved aside, and runs one pass so that the start-up is
rem as the marker asks. Then it removes the record, and a new acceptance run may start.
rem Without a record it only puts back a marker left aside, and runs the installed product's
rem program when there is one.
rem
rem The pass that puts the start-up back runs the program the start-up named before the run,
rem else the installed product's; never this kit's copy, which would point the start-up at a
rem folder that leaves with the engineer. The kit's copy runs only with the marker away, where
rem a pass takes every start-up away.
rem
rem "restore.cmd ports" puts the port values recorded before the last run back, exactly:
rem values that were absent are deleted. It runs no pass, and refuses while a run is
rem recorded as unfinished.
rem
rem The journal is HKLM\SOFTWARE\Ombrix\Tarvel\Acceptance in the 32-bit view, which only
rem administrators can write: Run holds the unfinished run, one value per fact, whole once
rem its "Whole" value is there; Ports holds the port keys as they were. Its values are read
rem as data and never run: a record with a name it does not know, a value outside its form or
rem no "Whole" is refused, and nothing is changed.
rem
rem Run it as an administrator. Each line it prints is what it saw after the step, not what
rem it meant to do. Exit status: 0 when all is undone, 1 when something could not be (the
rem record then stays), 2 when the record is refused.
rem
rem It is also where the kit's shared names and steps live: acceptance.cmd calls it with
rem /names, and with /do and a step's label.
if "%~1"=="/names" goto names
if "%~1"=="/do" goto %~2
setlocal EnableExtensions DisableDelayedExpansion
call :names
set "OWN=%~dp0tarvel.exe"
set /a PROBLEMS=0
call :readRecord
if /i "%~1"=="ports" goto portsOnly
if not defined RECORDED goto noRecord
if defined REFUSED goto refuse

call :say "restore: undoing the unfinished run recorded in %RUN_RECORD%:"
reg query "%RUN_RECORD%" <nul
if defined PRODUCT call :uninstall
call :lastProgram
if "%FOUND%"=="absent" (
    call :removeOwnMarker
) else (
    if not defined LAST call :startupAway
    call :putMarkerBack
)
if defined LAST call :pass
if not defined LAST if "%FOUND%"=="absent" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  %OWN% is not there to take the start-up away"
)
if not "%PROBLEMS%"=="0" (
    call :say "restore: %RUN_RECORD% stays: a new acceptance run waits until all is undone"
    exit /b 1
)
reg delete "%RUN_RECORD%" /f >nul 2>&1 <nul
reg query "%RUN_RECORD%" >nul 2>&1 <nul
if "%errorlevel%"=="0" (
    call :say "restore: FAIL  %RUN_RECORD% could not be removed"
    exit /b 1
)
call :say "restore: all is undone; the record is removed"
exit /b 0

:noRecord
call :say "restore: no unfinished run is recorded; the marker goes back if it was left aside"
if exist "%ASIDE%" call :putMarkerBack
set "FOUND=present"
set "PROGRAM=-"
call :lastProgram
if defined LAST call :pass
if not defined LAST call :say "restore: no pass: Ombrix Tarvel is not installed here"
if not "%PROBLEMS%"=="0" exit /b 1
exit /b 0

:refuse
call :say "restore: the record of an unfinished run is refused, and nothing was changed: %REFUSED%. It holds:"
reg query "%RUN_RECORD%" <nul
echo restore: undo by hand what it names, then remove it: reg delete "%RUN_RECORD%" /f
exit /b 2

:portsOnly
if defined RECORDED (
    call :say "restore: FAIL  an unfinished run is recorded: run restore.cmd without ports first. Nothing was changed."
    exit /b 1
)
call :ports
if not "%PROBLEMS%"=="0" exit /b 1
exit /b 0

rem --- the journal -----------------------------------------------------------

rem RECORDED: a record is there; REFUSED: why it cannot be trusted. Each value is compared
rem and copied as FOR text, never expanded into a command line before it is checked.
:readRecord
set "RECORDED="
set "REFUSED="
set "WHOLE="
set "FOUND="
set "PROGRAM="
set "PRODUCT="
set "PRODUCT_SEEN="
reg query "%RUN_RECORD%" >nul 2>&1 <nul
if not "%errorlevel%"=="0" goto :eof
set "RECORDED=yes"
for /f "tokens=1,2,*" %%a in ('reg query "%RUN_RECORD%" 2^>nul ^<nul') do (
    set "VALUE="
    set "KNOWN="
    for %%t in (REG_SZ REG_EXPAND_SZ REG_MULTI_SZ REG_DWORD REG_QWORD REG_BINARY REG_NONE) do if "%%b"=="%%t" set "VALUE=yes"
    for %%n in (Kit Whole Found Program Product) do if "%%a"=="%%n" if "%%b"=="REG_SZ" set "KNOWN=yes"
    if defined VALUE if not defined KNOWN set "REFUSED=it holds a name it does not know"
    if "%%a"=="Whole" if "%%b"=="REG_SZ" if "%%c"=="yes" set "WHOLE=yes"
    for %%s in (absent file directory) do if "%%a"=="Found" if "%%b"=="REG_SZ" if "%%c"=="%%s" set "FOUND=%%s"
    if "%%a"=="Program" if "%%b"=="REG_SZ" set "PROGRAM=%%c"
    if "%%a"=="Product" if "%%b"=="REG_SZ" set "PRODUCT_SEEN=yes"
    if "%%a"=="Product" if "%%b"=="REG_SZ" set "PRODUCT=%%c"
)
if defined REFUSED goto :eof
if not defined WHOLE (
    set "REFUSED=it is not whole, no Whole value: its run was cut while recording"
    goto :eof
)
if not defined FOUND (
    set "REFUSED=its Found value is not absent, file or directory"
    goto :eof
)
if not defined PROGRAM (
    set "REFUSED=it names no Program"
    goto :eof
)
rem A path holds neither a quote nor a bar: with each quote made a bar, the value can be
rem used within quotes, and one that held either is refused.
set "PROGRAM=%PROGRAM:"=|%"
if not "%PROGRAM:|=%"=="%PROGRAM%" (
    set "REFUSED=its Program is not a path"
    goto :eof
)
if not "%PROGRAM%"=="-" for %%p in ("%PROGRAM%") do if /i not "%%~xp"==".exe" set "REFUSED=its Program is not a program"
if not "%PROGRAM%"=="-" for %%p in ("%PROGRAM%") do if /i not "%%~fp"=="%PROGRAM%" set "REFUSED=its Program is not a full path"
if defined REFUSED goto :eof
if not defined PRODUCT_SEEN goto :eof
rem A product code: braces, dashes and hex digits only, in the places of
rem {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
if defined PRODUCT set "PRODUCT=%PRODUCT:"=%"
if defined PRODUCT for /f "delims={}-0123456789ABCDEF" %%z in ("%PRODUCT%") do set "PRODUCT=bad"
if not defined PRODUCT set "PRODUCT=bad"
if not "%PRODUCT:~0,1%%PRODUCT:~9,1%%PRODUCT:~14,1%%PRODUCT:~19,1%%PRODUCT:~24,1%%PRODUCT:~37%"=="{----}" (
    set "REFUSED=its Product is not a product code"
)
goto :eof

rem --- shared with acceptance.cmd ---------------------------------------------

:names
set "MARKER=C:\Preload"
rem A 32-bit program on 64-bit Windows looks for C:\Preload64, whichever cmd runs this.
if defined PROCESSOR_ARCHITEW6432 set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="IA64" set "MARKER=C:\Preload64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "MARKER=C:\Preload64"
set "ASIDE_NAME=%MARKER:~3%.acceptance"
set "ASIDE=C:\%ASIDE_NAME%"
rem The product's key in the 32-bit view, where its package writes: a 64-bit cmd reaches it
rem through Wow6432Node, so that every kit copy finds the same journal.
set "JOURNAL=HKLM\SOFTWARE\Ombrix\Tarvel\Acceptance"
if "%MARKER%"=="C:\Preload64" if not defined PROCESSOR_ARCHITEW6432 set "JOURNAL=HKLM\SOFTWARE\Wow6432Node\Ombrix\Tarvel\Acceptance"
set "RUN_RECORD=%JOURNAL%\Run"
set "PORTS_RECORD=%JOURNAL%\Ports"
set "PORTS=HKLM\SYSTEM\CurrentControlSet\Services\iaStor\Parameters"
set "UPGRADE_KEY=HKLM\SOFTWARE\Classes\Installer\UpgradeCodes\25E7D1C6A8B3E0F4D9A2E5B4C7A9F103"
rem The product code of the kit's own package, set when the kit is built.
set "PRODUCT_CODE={@TARVEL_PRODUCT_CODE@}"
goto :eof

rem INSTALLED: a deployed product (its upgrade code registered, or its folder remembered);
rem INSTALLED_PROGRAM: its program, when it is there.
:installedProgram
set "INSTALLED="
set "INSTALLED_PROGRAM="
reg query "%UPGRADE_KEY%" >nul 2>&1 <nul
if "%errorlevel%"=="0" set "INSTALLED=yes"
for %%k in ("HKLM\SOFTWARE\Ombrix\Tarvel" "HKLM\SOFTWARE\Wow6432Node\Ombrix\Tarvel") do (
    for /f "tokens=1,2,*" %%a in ('reg query "%%~k" /v InstallDir 2^>nul ^<nul') do (
        if /i "%%a"=="InstallDir" (
            set "INSTALLED=yes"
            if exist "%%ctarvel.exe" set "INSTALLED_PROGRAM=%%ctarvel.exe"
        )
    )
)
goto :eof

rem LAST: the program of the pass that puts the start-up as the marker asks: the one the
rem start-up named before the run (PROGRAM), else the installed product's; with the marker
rem absent (FOUND) a pass leaves no start-up, and the kit's own copy (OWN) will do. Empty:
rem none, since the kit's copy would point the start-up at the kit.
:lastProgram
set "LAST="
if not "%PROGRAM%"=="-" if exist "%PROGRAM%" set "LAST=%PROGRAM%"
if defined LAST goto :eof
call :installedProgram
if defined INSTALLED_PROGRAM set "LAST=%INSTALLED_PROGRAM%"
if not defined LAST if "%FOUND%"=="absent" if exist "%OWN%" set "LAST=%OWN%"
goto :eof

rem --- steps ---------------------------------------------------------------

:uninstall
start "" /wait msiexec /x %PRODUCT% /qn <nul
reg query "%UPGRADE_KEY%" >nul 2>&1 <nul
if errorlevel 1 (
    call :say "restore: Ombrix Tarvel, which the kit installed, is not installed"
) else (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  Ombrix Tarvel, which the kit installed, is still installed: uninstall it"
)
goto :eof

:pass
start "" /wait "%LAST%" <nul
set "STATUS=%errorlevel%"
if "%STATUS%"=="0" (
    call :say "restore: %LAST% ended with 0: the start-up is as the marker asks"
) else (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  %LAST% ended with %STATUS%: the start-up may not be as the marker asks"
)
goto :eof

rem No program outside the kit to keep a start-up: the run may have left one pointing at the
rem kit, and a pass of the kit's copy with the marker away takes it away.
:startupAway
call :say "restore: no program to put a start-up back: none was named before the run, and Ombrix Tarvel is not installed"
if exist "%MARKER%" if not exist "%ASIDE%" ren "%MARKER%" "%ASIDE_NAME%" <nul
if exist "%MARKER%" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  marker %MARKER% could not be moved aside to take the start-up away"
    goto :eof
)
if not exist "%OWN%" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  %OWN% is not there to take the start-up away"
    goto :eof
)
start "" /wait "%OWN%" <nul
set "STATUS=%errorlevel%"
if "%STATUS%"=="0" (
    call :say "restore: with the marker aside, %OWN% ended with 0: no start-up is left"
) else (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  with the marker aside, %OWN% ended with %STATUS%"
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

rem Each of the twelve values as it was before the run: copied back from the record when it
rem was there, deleted when it was not.
:ports
reg query "%PORTS_RECORD%" /v Whole >nul 2>&1 <nul
if not "%errorlevel%"=="0" (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  no whole record of the port values before a run is there: nothing was changed"
    goto :eof
)
for %%n in (0 1 2 3 4 5) do (
    reg query "%PORTS_RECORD%\Port%%n" >nul 2>&1 <nul && reg copy "%PORTS_RECORD%\Port%%n" "%PORTS%\Port%%n" /f >nul 2>&1 <nul
    for %%v in (DIPM LPM) do call :portValue %%n %%v
)
goto :eof

:portValue
set "BEFORE=absent"
for /f "tokens=1,2,*" %%a in ('reg query "%PORTS_RECORD%\Port%1" /v %2 2^>nul ^<nul') do if "%%a"=="%2" set "BEFORE=%%b %%c"
set "BEFORE=%BEFORE:"=%"
if "%BEFORE%"=="absent" reg delete "%PORTS%\Port%1" /v %2 /f >nul 2>&1 <nul
set "NOW=absent"
for /f "tokens=1,2,*" %%a in ('reg query "%PORTS%\Port%1" /v %2 2^>nul ^<nul') do if "%%a"=="%2" set "NOW=%%b %%c"
rem The driver's values, used within quotes once no quote is left in them.
set "NOW=%NOW:"=%"
if "%NOW%"=="%BEFORE%" (
    call :say "restore: Port%1 %2: %NOW%, as before the run"
) else (
    set /a PROBLEMS+=1
    call :say "restore: FAIL  Port%1 %2: %NOW%, where it was %BEFORE% before the run"
)
goto :eof

rem Any text, "&", "!" and parentheses included: a FOR variable takes its value after the
rem line is parsed, so nothing in it is read as syntax.
:say
for /f "delims=" %%l in ("%~1") do echo %%l
goto :eof
