@echo off
rem Acceptance of tarvel on a reference machine of one Windows release (XP and later). Run it
rem as an administrator from the kit's folder, beside tarvel-kit.exe, tarvel.exe,
rem tarvel-check.exe, restore.cmd and, when there, the package tarvel-*.msi; docs\acceptance.md
rem says what it does. tarvel-kit.exe makes every decision; its exit status is the kit's: 0
rem when every step passed, else 1; 5 when not run as an administrator, 2 when the kit is not
rem whole, cannot keep its log or the journal is not its own, 3 when an earlier run is
rem recorded as unfinished; 87, changing nothing, when given an argument (/? prints the usage and
rem ends with 0).
if not exist "%~dp0tarvel-kit.exe" (
    echo acceptance: tarvel-kit.exe is not beside acceptance.cmd.
    exit /b 2
)
"%~dp0tarvel-kit.exe" acceptance %* <nul
exit /b %errorlevel%
