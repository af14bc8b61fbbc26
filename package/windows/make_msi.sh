#!/bin/sh
# Builds Norvale's Windows Installer package from norvale.wxs and the
# programs in BIN_DIR: wixl makes the package, then msibuild adds what wixl
# cannot write, the user's PATH entry (added on install, taken out again on
# uninstall).
# Usage: make_msi.sh OUT.msi BIN_DIR ARCH VERSION PRODUCT_CODE
set -eu
out=$1 bin=$2 arch=$3 version=$4 code=$5
here=$(cd "$(dirname "$0")" && pwd)
case $out in /*) ;; *) out=$PWD/$out ;; esac
rm -f "$out"
# wixl finds the files by names relative to where it runs.
(cd "$bin" && wixl -a "$arch" -D Version="$version" \
  -D ProductCode="$code" -o "$out" "$here/norvale.wxs")
tables=$(mktemp -d "${TMPDIR:-/tmp}/norvale-msi.XXXXXX")
trap 'rm -rf "$tables"' EXIT
# "=-": set on install, removed on uninstall; "[~];" appends to the user's
# own PATH rather than replacing it.
printf 'Environment\tName\tValue\tComponent_\ns72\tl255\tL255\ts72\nEnvironment\tEnvironment\nPATH\t=-PATH\t[~];[INSTALLDIR]\tPath\n' \
  >"$tables/Environment.idt"
msibuild "$out" -i "$tables/Environment.idt" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
