#!/bin/sh
# Builds Norvale's Windows Installer package from norvale.wxs and the
# programs in BIN_DIR: wixl makes the package, then msibuild adds what wixl
# cannot write: the user's PATH entry (added on install, taken out again on
# uninstall), an upgrade that takes the same version of the other width,
# and the removal of an emptied %LOCALAPPDATA%\Programs.
# Usage: make_msi.sh OUT.msi BIN_DIR ARCH VERSION PRODUCT_CODE
set -eu
out=$1 bin=$2 arch=$3 version=$4 code=$5
here=$(cd "$(dirname "$0")" && pwd)
case $out in /*) ;; *) out=$PWD/$out ;; esac
rm -f "$out"
# wixl finds the files by names relative to where it runs.
# Each width has components of its own; the 64-bit ones are those the
# first packages had, so that an upgrade finds them.
case $arch in
  x64) guids="F023BF0E-0DCA-43B3-8D12-45A76B387828 1A4BB176-B251-401C-A44E-BFC712612C58 8D9E6298-812A-4FD0-B70A-961D215574FC FFDB309E-B6D1-4C18-8766-27D3AE723011" ;;
  *) guids="6C1F2B8E-3D4A-4E5F-9A0B-7C2D1E3F4A51 9E8D7C6B-5A49-4B3C-8D2E-1F0A9B8C7D62 2B3C4D5E-6F70-4A81-9B92-A3B4C5D6E773 7A6B5C4D-3E2F-4011-8223-344556677884" ;;
esac
set -- $guids
(cd "$bin" && wixl -a "$arch" -D Version="$version" \
  -D ProductCode="$code" -D ProgramsGuid="$1" -D PathGuid="$2" \
  -D FolderVerbGuid="$3" -D StartMenuGuid="$4" -o "$out" "$here/norvale.wxs")
tables=$(mktemp -d "${TMPDIR:-/tmp}/norvale-msi.XXXXXX")
trap 'rm -rf "$tables"' EXIT
# "=-": set on install, removed on uninstall; "[~];" appends to the user's
# own PATH rather than replacing it.
printf 'Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\nPATH\t=-PATH\t[~];[INSTALLDIR]\tPath\n' \
  >"$tables/Environment.idt"
# The upgrade takes the installed version too, so that the other width of
# the same version is replaced rather than installed beside it (the package
# itself is never among those found); and Programs is removed after
# Norvale's folder when that leaves it empty.
msibuild "$out" -i "$tables/Environment.idt" \
  -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" \
  -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{4DAE3417-E4D5-4D99-95C0-345C425ACBA6}', '$version', 513, 'WIX_UPGRADE_DETECTED')" \
  -q "UPDATE RemoveFile SET DirProperty = 'ProgramsFolder' WHERE FileKey = 'RemoveProgramsDir'" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
