# ---- The functions every fleet script of tarvel shares (fleet/TarvelFleet.ps1). An engine
# ---- takes one file per script, so the build writes them into each; they use nothing that
# ---- Windows PowerShell 5.1 lacks.

# The package's family and its program's component, as every version of the package registers
# them: Windows Installer says what is installed, never a value others could have written.
$TarvelUpgradeCode = '{6C1D7E52-3B8A-4F0E-9D2A-5E4B7C9A1F30}'
$TarvelProgramComponent = '{9A3F2B61-7C4E-4D85-A1B0-2E6F8D4C3B17}'
# The check's exit status when only what no pass mends differs.
$TarvelForAdministrator = 536870913
# ERROR_TIMEOUT as an HRESULT, 0x800705B4: what the check says of its own bounds running out.
$TarvelTimedOut = -2147023436
# The check ends within a minute by its own bounds, and a configuration manager ends a script
# after 60 seconds by default: the script ends it first. A pass waits at most 30 seconds for the
# Task Scheduler.
$TarvelCheckSeconds = 50
$TarvelPassSeconds = 60

# A parameterized property of a COM object, which PowerShell reaches only through the binder.
function Get-TarvelComProperty {
    param($Object, [string]$Name, [object[]]$Arguments = @())
    $Object.GetType().InvokeMember($Name, [Reflection.BindingFlags]::GetProperty, $null, $Object, $Arguments)
}

# Whether Windows Installer lists a product of the family, and where it registered the
# program: the first product of the upgrade code, and its program component's path.
function Read-TarvelInstallation {
    $installer = New-Object -ComObject WindowsInstaller.Installer
    $products = Get-TarvelComProperty $installer 'RelatedProducts' @($TarvelUpgradeCode)
    if ((Get-TarvelComProperty $products 'Count') -eq 0) {
        return [pscustomobject]@{ Installed = $false; Product = ''; Program = '' }
    }
    $product = Get-TarvelComProperty $products 'Item' @(0)
    $program = Get-TarvelComProperty $installer 'ComponentPath' @($product, $TarvelProgramComponent)
    [pscustomobject]@{ Installed = $true; Product = $product; Program = [string]$program }
}

# The encoding of what the check writes to a file or a pipe: the console's output code page, or
# the OEM code page where there is no console.
function Get-TarvelOutputEncoding {
    try {
        return [Console]::OutputEncoding
    } catch {
        return [Text.Encoding]::GetEncoding([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
    }
}

# Starts a program without a shell and waits for it within Seconds, what it writes kept in
# memory. Answers its whole exit status (0x800705B4, with the program ended, when the bound ran
# out) and its lines.
function Invoke-TarvelProgram {
    param([string]$Path, [string[]]$Arguments = @(), [int]$Seconds)
    $start = New-Object Diagnostics.ProcessStartInfo
    $start.FileName = $Path
    $start.Arguments = ($Arguments | ForEach-Object { '"' + $_ + '"' }) -join ' '
    $start.UseShellExecute = $false
    $start.CreateNoWindow = $true
    $start.RedirectStandardOutput = $true
    $start.StandardOutputEncoding = Get-TarvelOutputEncoding
    $process = [Diagnostics.Process]::Start($start)
    $reading = $process.StandardOutput.ReadToEndAsync()
    if (-not $process.WaitForExit($Seconds * 1000)) {
        try { $process.Kill() } catch { }
        $name = Split-Path -Leaf $Path
        return [pscustomobject]@{ Status = $TarvelTimedOut; Lines = @("$name did not end within $Seconds seconds") }
    }
    $process.WaitForExit()
    $lines = @($reading.Result -split "`r?`n" | Where-Object { $_ -ne '' })
    [pscustomobject]@{ Status = $process.ExitCode; Lines = $lines }
}

# A status as people read it: a Win32 code in decimal, anything else as its eight hex digits.
function Format-TarvelStatus {
    param([int64]$Status)
    if ($Status -ge 0 -and $Status -le 65535) {
        return "$Status"
    }
    '0x{0:X8}' -f ($Status -band [int64]4294967295)
}

function New-TarvelState {
    param([string]$State, [int64]$Status, [string[]]$Lines, [string]$Program = '')
    [pscustomobject]@{ State = $State; Status = $Status; Lines = @($Lines); Program = $Program }
}

# The machine as the check sees it: Compliant, PassMends, AdministratorMends, NotInstalled (no
# product of the family registered) or CouldNotCheck with a status. ReadInstallation answers what
# Read-TarvelInstallation does; StartProgram, given a path and a bound in seconds, what
# Invoke-TarvelProgram does.
function Get-TarvelState {
    param([scriptblock]$ReadInstallation, [scriptblock]$StartProgram)
    try {
        $installation = & $ReadInstallation
    } catch {
        return New-TarvelState 'CouldNotCheck' $_.Exception.HResult @("Windows Installer could not be asked: $($_.Exception.Message)")
    }
    if (-not $installation.Installed) {
        return New-TarvelState 'NotInstalled' 0 @('no product of the Ombrix Tarvel family is installed')
    }
    $program = [string]$installation.Program
    $check = ''
    if ($program -ne '') {
        $check = Join-Path (Split-Path -Parent $program) 'tarvel-check.exe'
    }
    if ($program -eq '' -or -not (Test-Path -LiteralPath $program -PathType Leaf) -or
        -not (Test-Path -LiteralPath $check -PathType Leaf)) {
        return New-TarvelState 'CouldNotCheck' 2 @("Ombrix Tarvel $($installation.Product) is installed, but its program or check is not where Windows Installer registered it ('$program'): repair the product")
    }
    $ran = & $StartProgram $check $TarvelCheckSeconds
    $state = 'CouldNotCheck'
    if ($ran.Status -eq 0) {
        $state = 'Compliant'
    } elseif ($ran.Status -eq 1) {
        $state = 'PassMends'
    } elseif ($ran.Status -eq $TarvelForAdministrator) {
        $state = 'AdministratorMends'
    }
    New-TarvelState $state $ran.Status $ran.Lines $program
}

# The lines a service shows of a state, on one line, since some show only the last: what
# differs, or the last lines of a check that could not check.
function Format-TarvelState {
    param($State)
    if ($State.State -eq 'CouldNotCheck') {
        $last = @($State.Lines | Select-Object -Last 3)
        return "CouldNotCheck $(Format-TarvelStatus $State.Status): $($last -join ' | ')"
    }
    $shown = @($State.Lines | Where-Object { $_ -like '*: DIFFERS' })
    if ($shown.Count -eq 0) {
        $shown = @($State.Lines | Select-Object -Last 1)
    }
    "$($State.State): $($shown -join ' | ')"
}
