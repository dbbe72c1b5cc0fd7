@echo off
rem Undoes what an acceptance run changed and did not undo itself, as the run recorded it in
rem the machine's journal; "restore.cmd ports" puts the port values recorded before the last
rem run back. Run it as an administrator, from any copy of the kit. tarvel-kit.exe makes every
rem decision; its exit status is the script's: 0 when all is undone, 1 when something could
rem not be, 2 when the record or the journal is refused, 5 when not run as an administrator; 87,
rem changing nothing, for an argument other than ports (/? prints the usage and ends with 0).
if not exist "%~dp0tarvel-kit.exe" (
    echo restore: tarvel-kit.exe is not beside restore.cmd.
    exit /b 2
)
"%~dp0tarvel-kit.exe" restore %* <nul
exit /b %errorlevel%
