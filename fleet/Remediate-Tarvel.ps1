# tarvel: the remediation script of a device-management remediation, run as SYSTEM. One pass of
# tarvel.exe, waited for (a window program returns at once unless it is), whose exit status is
# the script's: 0 when the pass did its whole job.
$key = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry32').OpenSubKey('SOFTWARE\Ombrix\Tarvel')
if (-not $key) { Write-Output 'tarvel is not installed'; exit 1 }
$pass = Start-Process -FilePath (Join-Path $key.GetValue('InstallDir') 'tarvel.exe') -Wait -PassThru
exit $pass.ExitCode
