# The fleet's shipped scripts in a real PowerShell: each in every state a machine can be in,
# through the Windows Installer reader and program starter they take as parameters; once each
# with the real tarvel-check.exe and tarvel.exe under Wine; and as Windows PowerShell 5.1 parses
# them, made by the build from the one source of functions.
param([string]$Built, [string]$Source, [string]$Programs, [string]$Prefix, [string]$Launcher)

BeforeAll {
    . (Join-Path $Source 'fleet/TarvelFleet.ps1')
    $shipped = @{}
    foreach ($name in 'Detect', 'Remediate', 'Discover') {
        $shipped[$name] = Join-Path $Built "$name-Tarvel.ps1"
    }
    # A script's exit status and what it wrote, as an engine reads them.
    function Invoke-Shipped($Name, $ReadInstallation, $StartProgram) {
        $output = & $shipped[$Name] -ReadInstallation $ReadInstallation -StartProgram $StartProgram
        [pscustomobject]@{ Exit = $LASTEXITCODE; Output = ($output -join "`n") }
    }
}

Describe 'Each shipped script, in each state a machine can be in' {
    BeforeAll {
        $folder = Join-Path $TestDrive 'Tarvel'
        New-Item -ItemType Directory -Path $folder | Out-Null
        foreach ($file in 'tarvel.exe', 'tarvel-check.exe') {
            Set-Content -LiteralPath (Join-Path $folder $file) -Value ''
        }
        $installedProgram = Join-Path $folder 'tarvel.exe'
        $differs = @('Port0 DIPM: wants REG_DWORD 1, found REG_DWORD 0: DIFFERS',
            'start-up: folder C:\Tools: wants changed by administrators only, found renamed also by Everyone: DIFFERS',
            'tarvel-check: 2 of 18 checks differ from what the marker asks (normal mode)')
    }

    It '<script> on a machine <what> exits <exit> and shows "<shows>"' -ForEach @(
        @{ script = 'Detect'; what = 'as asked'; check = 0; exit = 0; shows = 'Compliant'; passes = 0 }
        @{ script = 'Detect'; what = 'a pass mends'; check = 1; exit = 1; shows = 'PassMends: Port0 DIPM'; passes = 0 }
        @{ script = 'Detect'; what = 'an administrator mends'; check = 536870913; exit = 1
            shows = 'AdministratorMends: Port0 DIPM: wants REG_DWORD 1, found REG_DWORD 0: DIFFERS | start-up: folder C:\Tools'; passes = 0 }
        @{ script = 'Detect'; what = 'without the product'; installed = $false; exit = 0; shows = 'NotInstalled: no product'; passes = 0 }
        @{ script = 'Detect'; what = 'it may not read'; check = 5; exit = 1; shows = 'CouldNotCheck 5: Port0 DIPM'; passes = 0 }
        @{ script = 'Detect'; what = 'whose check ran out of time'; check = -2147023436; exit = 1; shows = 'CouldNotCheck 0x800705B4'; passes = 0 }
        @{ script = 'Detect'; what = 'whose program is gone'; program = 'gone'; exit = 1; shows = 'CouldNotCheck 2: Ombrix Tarvel'; passes = 0 }
        @{ script = 'Remediate'; what = 'as asked'; check = 0; exit = 0; shows = 'Compliant'; passes = 0 }
        @{ script = 'Remediate'; what = 'a pass mends'; check = 1; exit = 0; shows = 'ended with exit status 0'; passes = 1 }
        @{ script = 'Remediate'; what = 'a pass mends, not elevated'; check = 1; pass = 5; exit = 5; shows = 'ended with exit status 5'; passes = 1 }
        @{ script = 'Remediate'; what = 'an administrator mends'; check = 536870913; exit = 1; shows = 'AdministratorMends: Port0 DIPM'; passes = 0 }
        @{ script = 'Remediate'; what = 'without the product'; installed = $false; exit = 0; shows = 'NotInstalled'; passes = 0 }
        @{ script = 'Remediate'; what = 'it may not read'; check = 5; exit = 1; shows = 'CouldNotCheck 5'; passes = 0 }
        @{ script = 'Remediate'; what = 'whose program is gone'; program = 'gone'; exit = 1; shows = 'CouldNotCheck 2'; passes = 0 }
        @{ script = 'Discover'; what = 'as asked'; check = 0; exit = 0; shows = 'Compliant'; passes = 0 }
        @{ script = 'Discover'; what = 'a pass mends'; check = 1; exit = 0; shows = 'PassMends'; passes = 0 }
        @{ script = 'Discover'; what = 'an administrator mends'; check = 536870913; exit = 0; shows = 'AdministratorMends'; passes = 0 }
        @{ script = 'Discover'; what = 'without the product'; installed = $false; exit = 0; shows = 'NotInstalled'; passes = 0 }
        @{ script = 'Discover'; what = 'whose check ran out of time'; check = -2147023436; exit = 0; shows = 'CouldNotCheck 0x800705B4'; passes = 0 }
        @{ script = 'Discover'; what = 'whose program is gone'; program = 'gone'; exit = 0; shows = 'CouldNotCheck 2'; passes = 0 }
    ) {
        $program = if ($program -eq 'gone') { Join-Path $TestDrive 'gone/tarvel.exe' } else { $installedProgram }
        $isInstalled = $installed -ne $false
        $reader = { [pscustomobject]@{ Installed = $isInstalled; Product = '{E569D334-FAB0-58D1-A537-C30C356BF91B}'; Program = $program } }.GetNewClosure()
        $started = New-Object System.Collections.Generic.List[string]
        $checkStatus = $check
        $passStatus = if ($null -eq $pass) { 0 } else { $pass }
        $lines = $differs
        $starter = {
            param($Path, $Seconds)
            $started.Add($Path)
            if ($Path -like '*tarvel-check.exe') {
                return [pscustomobject]@{ Status = $checkStatus; Lines = $lines }
            }
            [pscustomobject]@{ Status = $passStatus; Lines = @() }
        }.GetNewClosure()

        $ran = Invoke-Shipped $script $reader $starter

        $ran.Exit | Should -Be $exit
        $ran.Output | Should -BeLike "*$shows*"
        @($started | Where-Object { $_ -like '*tarvel.exe' }).Count | Should -Be $passes
        if ($isInstalled -and $program -eq $installedProgram) {
            $started[0] | Should -Be (Join-Path $folder 'tarvel-check.exe')
        }
    }

    It 'ends a check still running at its bound and reports 0x800705B4' {
        $ran = Invoke-TarvelProgram -Path '/bin/sleep' -Arguments @('30') -Seconds 1
        $ran.Status | Should -Be $TarvelTimedOut
        (Format-TarvelStatus $ran.Status) | Should -Be '0x800705B4'
    }
}

Describe 'The shipped scripts as Windows PowerShell 5.1 reads them' {
    It '<_> parses, in ASCII, with nothing PowerShell 5.1 lacks, built from the one source' -ForEach @('Detect', 'Remediate', 'Discover') {
        $path = $shipped[$_]
        $tokens = $null
        $errors = $null
        $tree = [System.Management.Automation.Language.Parser]::ParseFile($path, [ref]$tokens, [ref]$errors)
        $errors | Should -BeNullOrEmpty
        $newer = $tree.FindAll({
                param($node)
                $node -is [System.Management.Automation.Language.TernaryExpressionAst] -or
                $node -is [System.Management.Automation.Language.PipelineChainAst] -or
                ($node -is [System.Management.Automation.Language.BinaryExpressionAst] -and $node.Operator -eq 'QuestionQuestion') -or
                ($node -is [System.Management.Automation.Language.AssignmentStatementAst] -and $node.Operator -eq 'QuestionQuestionEquals')
            }, $true)
        @($newer).Count | Should -Be 0
        @([IO.File]::ReadAllBytes($path) | Where-Object { $_ -gt 127 }).Count | Should -Be 0
        # The build's join of the script's own part and the functions, and no copy in the tree.
        $main = [IO.File]::ReadAllText((Join-Path $Source "fleet/$_.ps1"))
        $shared = [IO.File]::ReadAllText((Join-Path $Source 'fleet/Parameters.ps1')) +
            [IO.File]::ReadAllText((Join-Path $Source 'fleet/TarvelFleet.ps1'))
        [IO.File]::ReadAllText($path) | Should -BeExactly ($main.Replace("# <the parameters and functions of fleet/>`n", $shared))
        Join-Path $Source "fleet/$_-Tarvel.ps1" | Should -Not -Exist
    }
}

Describe 'The shipped scripts with the real programs under Wine' {
    BeforeAll {
        $folder = Join-Path $Prefix 'drive_c/FleetTest'
        New-Item -ItemType Directory -Force -Path $folder | Out-Null
        foreach ($file in 'tarvel.exe', 'tarvel-check.exe') {
            Copy-Item -LiteralPath (Join-Path $Programs $file) -Destination $folder
        }
        $program = Join-Path $folder 'tarvel.exe'
        # A machine the package left in normal mode, whose ports were set back since.
        Remove-Item -LiteralPath (Join-Path $Prefix 'drive_c/Preload') -Recurse -Force -ErrorAction SilentlyContinue
        & $Launcher $Prefix reg delete 'HKLM\SYSTEM\CurrentControlSet\Services\iaStor' /f | Out-Null
        $reader = { [pscustomobject]@{ Installed = $true; Product = '{E569D334-FAB0-58D1-A537-C30C356BF91B}'; Program = $program } }.GetNewClosure()
        # Wine hands a Unix parent only an exit status's low byte: these statuses fit in one. The
        # script's own Invoke-TarvelProgram starts the programs, through the launcher.
        $fleetLaunch = @($Launcher, $Prefix)
        $starter = { param($Path, $Seconds) Invoke-TarvelProgram -Path $fleetLaunch[0] -Arguments @($fleetLaunch[1], $Path) -Seconds $Seconds }
    }
    AfterAll {
        Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
    }

    It 'Detect asks for the pass, Remediate runs it, and Discover finds the machine compliant' {
        $detected = Invoke-Shipped 'Detect' $reader $starter
        $detected.Exit | Should -Be 1
        $detected.Output | Should -BeLike 'PassMends: Port0 DIPM: wants REG_DWORD 1, found absent: DIFFERS*'
        $remediated = Invoke-Shipped 'Remediate' $reader $starter
        $remediated.Output | Should -BeLike '*ended with exit status 0'
        $remediated.Exit | Should -Be 0
        $discovered = Invoke-Shipped 'Discover' $reader $starter
        $discovered.Output | Should -Be 'Compliant'
        $discovered.Exit | Should -Be 0
    }
}
