# tarvel: the detection script of a device-management remediation (Intune Remediations, run
# as SYSTEM). Exit 0: the machine is as its marker asks. Exit 1: a pass of tarvel.exe mends what
# differs, and the remediation script runs. What no pass mends (0x20000001: an administrator
# must act) or a check that could not check is written to the output, which the service shows,
# with exit 0, so that no remediation runs for ever.
$key = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry32').OpenSubKey('SOFTWARE\Ombrix\Tarvel')
if (-not $key) { Write-Output 'tarvel is not installed'; exit 0 }
$output = Join-Path $env:TEMP 'tarvel-check.txt'
$check = Start-Process -FilePath (Join-Path $key.GetValue('InstallDir') 'tarvel-check.exe') -Wait -PassThru `
    -NoNewWindow -RedirectStandardOutput $output
switch ($check.ExitCode) {
    0 { exit 0 }
    1 { exit 1 }
    536870913 { Write-Output "an administrator must act: $(Get-Content $output -Tail 2)"; exit 0 }
    default { Write-Output "could not check: $(Get-Content $output -Tail 1)"; exit 0 }
}
