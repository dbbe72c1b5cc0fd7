# Discover-Tarvel.ps1: the discovery script of a configuration manager's configuration item (a
# String setting; compliance rule: equals Compliant; remediation: Remediate-Tarvel.ps1), run as
# SYSTEM in 64-bit Windows PowerShell 5.1. The build makes it from fleet/Discover.ps1 and the
# functions of fleet/TarvelFleet.ps1; edit those. It always exits 0, since a configuration
# manager takes any other exit as the script's own error, and says what the check found in
# one word: Compliant, PassMends, AdministratorMends, NotInstalled or CouldNotCheck <status>.
# <the parameters and functions of fleet/>

$state = Get-TarvelState -ReadInstallation $ReadInstallation -StartProgram $StartProgram
if ($state.State -eq 'CouldNotCheck') {
    Write-Output "CouldNotCheck $(Format-TarvelStatus $state.Status)"
} else {
    Write-Output $state.State
}
exit 0
