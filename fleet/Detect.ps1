# Detect-Tarvel.ps1: the detection script of a device-management remediation, run as SYSTEM in
# 64-bit Windows PowerShell 5.1. The build makes it from fleet/Detect.ps1 and the functions of
# fleet/TarvelFleet.ps1; edit those. Exit 0: the machine is as its marker and the fleet's policy
# ask, or no product of the family is installed. Exit 1, with what differs or why it could not
# check on one line: anything else, so that the service never shows "Without issues" for a
# machine it could not tell; only what a pass mends starts the remediation's pass.
# <the parameters and functions of fleet/>

$state = Get-TarvelState -ReadInstallation $ReadInstallation -StartProgram $StartProgram
Write-Output (Format-TarvelState $state)
if ($state.State -eq 'Compliant' -or $state.State -eq 'NotInstalled') {
    exit 0
}
exit 1
