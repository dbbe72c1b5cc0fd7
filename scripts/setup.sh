#!/usr/bin/env bash
# Installs what building and testing tarvel needs on Debian 12, when it is missing:
# the mingw-w64 i686 toolchain, Wine with its 32-bit part, the GoogleTest sources, CMake,
# for the release tests Python, OpenSSL and osslsigncode, wixl and msitools for the installer
# package (with the Libmsi bindings that make it reproducible), and clang-format and
# clang-tidy for the style checks; then PowerShell 7.6.9 and Pester 5.7.1 for the fleet scripts'
# tests, with the .NET SDK, into build/tools.
# Usage: setup.sh [EXTRA-PACKAGE...]
set -euo pipefail

packages=(cmake make python3 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          binutils-mingw-w64-i686 mingw-w64-i686-dev googletest wine wine64 wine32:i386
          openssl osslsigncode wixl msitools gir1.2-libmsi-1.0 python3-gi clang-format clang-tidy)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -ne 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The fleet scripts' tests run in a real PowerShell, 7.6.9, a .NET tool, with Pester 5.7.1 from
# the same NuGet source, both in build/tools: a machine without the .NET SDK cannot run them.
tools=build/tools
pester=$tools/nuget/pester/5.7.1/tools/Pester.psd1
if ! command -v dotnet >/dev/null; then
    echo "setup: the .NET SDK (dotnet) is missing: it installs PowerShell 7.6.9 and Pester 5.7.1 for the fleet scripts' tests" >&2
    exit 1
fi
if [ ! -x "$tools/pwsh" ] || [ "$("$tools/pwsh" -NoProfile -Command '$PSVersionTable.PSVersion.ToString()')" != 7.6.9 ]; then
    echo "Installing: PowerShell 7.6.9 into $tools"
    rm -rf "$tools/pwsh" "$tools/.store/powershell"
    dotnet tool install --tool-path "$tools" PowerShell --version 7.6.9 >/dev/null
fi
if [ ! -f "$pester" ]; then
    echo "Installing: Pester 5.7.1 into $tools/nuget"
    mkdir -p "$tools/download"
    framework="net$(dotnet --version | cut -d. -f1).0"
    cat >"$tools/download/download.csproj" <<CSPROJ
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup><TargetFramework>$framework</TargetFramework></PropertyGroup>
  <ItemGroup><PackageDownload Include="Pester" Version="[5.7.1]" /></ItemGroup>
</Project>
CSPROJ
    dotnet restore "$tools/download/download.csproj" --packages "$tools/nuget" >/dev/null
fi
if [ ! -f "$pester" ]; then
    echo "setup: Pester 5.7.1 could not be had from NuGet: $pester is missing" >&2
    exit 1
fi
