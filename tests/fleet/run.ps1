# Runs the fleet scripts' tests with Pester, loaded from its package's own files, and ends with
# the plain line "N passed, N failed" and 0 only when every row passed.
# Usage: pwsh -File run.ps1 PESTER_PSD1 BUILT SOURCE PROGRAMS PREFIX LAUNCHER
param([string]$Pester, [string]$Built, [string]$Source, [string]$Programs, [string]$Prefix, [string]$Launcher)
$ErrorActionPreference = 'Stop'
Import-Module $Pester -Force
$data = @{ Built = $Built; Source = $Source; Programs = $Programs; Prefix = $Prefix; Launcher = $Launcher }
$configuration = New-PesterConfiguration
$configuration.Run.Container = New-PesterContainer -Path (Join-Path $PSScriptRoot 'Fleet.Tests.ps1') -Data $data
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
Write-Output "$($result.PassedCount) passed, $($result.FailedCount) failed"
if ($result.FailedCount -gt 0 -or $result.PassedCount -eq 0) {
    exit 1
}
exit 0
