param(
    # What the suite hands in where there is no Windows Installer; an engine passes nothing.
    [scriptblock]$ReadInstallation = { Read-TarvelInstallation },
    [scriptblock]$StartProgram = { param($Path, $Seconds) Invoke-TarvelProgram -Path $Path -Seconds $Seconds }
)
