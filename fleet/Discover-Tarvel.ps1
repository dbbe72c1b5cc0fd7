# tarvel: the discovery script of a configuration manager's configuration item (a String
# setting; compliance rule: equals Compliant; remediation: Remediate-Tarvel.ps1). It always
# exits 0, since a configuration manager takes any other exit as the script's own error, and
# says in one word what the check found.
$key = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry32').OpenSubKey('SOFTWARE\Ombrix\Tarvel')
if (-not $key) { Write-Output 'NotInstalled'; exit 0 }
$check = Start-Process -FilePath (Join-Path $key.GetValue('InstallDir') 'tarvel-check.exe') -Wait -PassThru `
    -NoNewWindow -RedirectStandardOutput (Join-Path $env:TEMP 'tarvel-check.txt')
switch ($check.ExitCode) {
    0 { Write-Output 'Compliant' }
    1 { Write-Output 'PassMends' }
    536870913 { Write-Output 'AdministratorMends' }
    default { Write-Output "CouldNotCheck $($check.ExitCode)" }
}
exit 0
