# Remediate-Tarvel.ps1: the remediation script of a device-management remediation or of a
# configuration manager's configuration item, run as SYSTEM in 64-bit Windows PowerShell 5.1.
# The build makes it from fleet/Remediate.ps1 and the functions of fleet/TarvelFleet.ps1; edit
# those. It checks first, and runs one pass of tarvel.exe only when a pass mends what differs:
# its exit status is then the pass's (0 when it did its whole job). Exit 0 with nothing to do
# (the machine is as asked, or no product is installed); exit 1 with what an administrator must
# mend, or with why it could not check, and no pass.
# <the parameters and functions of fleet/>

$state = Get-TarvelState -ReadInstallation $ReadInstallation -StartProgram $StartProgram
Write-Output (Format-TarvelState $state)
if ($state.State -eq 'Compliant' -or $state.State -eq 'NotInstalled') {
    exit 0
}
if ($state.State -ne 'PassMends') {
    exit 1
}
$pass = & $StartProgram $state.Program $TarvelPassSeconds
Write-Output "the pass of $($state.Program) ended with exit status $(Format-TarvelStatus $pass.Status)"
exit $pass.Status
