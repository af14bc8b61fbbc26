#!/bin/sh
# Installs Norvale's Windows Installer package under Wine as a user would,
# then the other width over it, a newer one, the older one again (refused),
# and uninstalls, checking the files, Start menu, Apps entry, PATH, folder
# verb and that Norvale runs from a new cmd; also the package's tables.
# Usage: msi_test_win.sh WINE NORVALE.msi BIN_DIR ARCH VERSION
set -u
wine=$1 msi=$2 bin=$3 arch=$4 version=$5 failed=0
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/norvale-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  printf "FAILED: %s\n" "$*" >&2
  failed=1
}
# has TEXT PATTERN WHAT: fails unless TEXT holds PATTERN (grep -E).
has() { printf '%s\n' "$1" | grep -Eq -- "$2" || fail "$3"; }
hasnt() { printf '%s\n' "$1" | grep -Eq -- "$2" && fail "$3"; }
winpath() { "$wine" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
# Prints the key or value asked for; nothing when there is none.
reg() {
  found=$("$wine" reg query "$@" 2>/dev/null) && printf '%s\n' "$found" |
    tr -d '\r'
}
wincmd() { "$wine" cmd /c "$@" 2>&1 | tr -d '\r'; }
# Where Apps entries are kept: Wine keeps a user's under HKLM, a 32-bit
# package's in its 32-bit view, Windows under the user's Installer keys,
# shown from any of them.
uninstall_keys='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall
HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall
HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
# The Apps entry of a package.
apps_entry() {
  printf '%s\n' "$uninstall_keys" | while read -r key; do reg "$key\\$1"; done
}
# Every Apps entry named Norvale.
norvale_entries() {
  printf '%s\n' "$uninstall_keys" | while read -r key; do reg "$key" /s; done |
    grep -c 'DisplayName *REG_SZ *Norvale$'
}
property() {
  msiinfo export "$msi" Property | tr -d '\r' |
    awk -F'\t' -v p="$1" '$1 == p { print $2 }'
}

# The package's tables, as Windows Installer reads them.
code=$(property ProductCode)
has "$(property ProductVersion)" "^$version$" "ProductVersion is not $version"
has "$(property Manufacturer)" '^Norvale maintainers$' "no publisher"
has "$(property UpgradeCode)" '^.4DAE3417-E4D5-4D99-95C0-345C425ACBA6.$' \
  "the upgrade code changed: installed copies would not be upgraded"
has "$(property ARPPRODUCTICON)" . "no icon in Apps"
has "$(property ALLUSERS)" '^$' "installs for all users"
summary=$(msiinfo suminfo "$msi")
has "$summary" "^Template: $(echo "$arch" | sed 's/x86/Intel/');1033$" \
  "not a package for $arch"
# Word count 10: compressed, and installing asks for no administrator.
has "$summary" '^Source: 10 ' "asks for an administrator"
has "$(msiinfo export "$msi" Environment)" '=-PATH.\[~\];\[INSTALLDIR\]' \
  "PATH is not appended to and taken out again"
# %LOCALAPPDATA%\Programs goes on uninstalling when that leaves it empty,
# as ICE64 asks of a folder in the user's profile; Wine leaves it anyway.
has "$(msiinfo export "$msi" RemoveFile)" \
  '^RemoveProgramsDir.Programs..ProgramsFolder.2' \
  "uninstalling leaves %LOCALAPPDATA%\\Programs behind"
# The same version of the other width is replaced, not installed beside.
has "$(msiinfo export "$msi" Upgrade)" \
  "^.4DAE3417-E4D5-4D99-95C0-345C425ACBA6...$version..513..WIX_UPGRADE_DETECTED" \
  "the other width of this version would install beside it"
sequence=$(msiinfo export "$msi" InstallExecuteSequence)
for action in WriteEnvironmentStrings RemoveEnvironmentStrings \
  FindRelatedProducts RemoveExistingProducts LaunchConditions; do
  has "$sequence" "^$action" "$action is not sequenced"
done
# Windows shows the condition's text when it refuses; Wine only logs that
# the condition failed.
has "$(msiinfo export "$msi" LaunchCondition)" \
  'NOT WIX_DOWNGRADE_DETECTED.A newer version of Norvale is already installed' \
  "an older package would install over a newer without a word"

# Both programs say the version --version prints, and their maker.
for program in Norvale.exe Norvale.com; do
  resource=$(wrestool -x --raw -t 16 "$bin/$program" | strings -el)
  for value in "$version" "Norvale maintainers" "Copyright \\(C\\) 2026" \
    "$program"; do
    has "$resource" "^$value" "$program's version resource lacks $value"
  done
done
has "$(wincmd "$bin/Norvale.com" --version)" "^Norvale $version$" \
  "--version does not say $version"

local_app_data=$(wincmd echo %LOCALAPPDATA%)
app_data=$(wincmd echo %APPDATA%)
installed="$local_app_data\\Programs\\Norvale"
unix_installed=$("$wine" winepath -u "$installed" 2>/dev/null)
start_menu=$("$wine" winepath -u \
  "$app_data\\Microsoft\\Windows\\Start Menu\\Programs\\Norvale.lnk" 2>/dev/null)
verb='HKCU\Software\Classes\Directory\shell\Norvale'

# check_installed CODE VERSION: the package of that code and version is the
# one installed, with all it gives.
check_installed() {
  for program in Norvale.exe Norvale.com; do
    [ -f "$unix_installed/$program" ] || fail "no $installed\\$program"
  done
  [ -f "$start_menu" ] || fail "no Start menu shortcut"
  entry=$(apps_entry "$1")
  has "$entry" 'DisplayName +REG_SZ +Norvale$' "no Apps entry for $1"
  has "$entry" "DisplayVersion +REG_SZ +$2$" "the Apps entry is not $2"
  has "$entry" 'Publisher +REG_SZ +Norvale maintainers$' "no publisher in Apps"
  [ "$(norvale_entries)" = 1 ] || fail "$(norvale_entries) Apps entries"
  has "$(reg 'HKCU\Environment' /v PATH)" "Programs\\\\Norvale" \
    "PATH does not lead to Norvale"
  has "$(reg "$verb")" 'REG_SZ +Compress with Norvale$' "no folder verb"
  has "$(reg "$verb\\command")" \
    "REG_SZ +\"C:.*\\\\Programs\\\\Norvale\\\\Norvale.exe\" \"%1\"$" \
    "the folder verb does not open the window with the folder"
}

# install_new MSI ARCH VERSION CODE WHAT: builds that package and installs
# it over what is installed, which it must replace.
install_new() {
  sh "$here/make_msi.sh" "$1" "$bin" "$2" "$3" "$4" >/dev/null 2>&1 ||
    fail "cannot build the $5 package"
  "$wine" msiexec /i "$(winpath "$1")" /qn || fail "the $5 package did not install"
  check_installed "$4" "$3"
}

log="$work/install.log"
"$wine" msiexec /i "$(winpath "$msi")" /qn || fail "msiexec /i failed"
check_installed "$code" "$version"

# A typed "Norvale" in a new cmd, started anywhere, finds the installed
# Norvale.com through the user's PATH and runs.
mkdir -p "$work/Src/News" && printf '[InternetShortcut]\r\nURL=http://a/\r\n' \
  >"$work/Src/News/a.url"
out=$(cd "$work" && unset WINEPATH &&
  wincmd 'Norvale --run Src Copies & echo status %ERRORLEVEL%')
has "$out" '^Compressed 1 favorites\.$' "the installed Norvale did not run: $out"
has "$out" '^status 0 ?$' "the installed Norvale failed: $out"
[ -f "$work/Copies/News/a.url" ] || fail "the installed Norvale wrote no copy"

# The x86 package of the same version replaces it too, leaving one entry
# and a Norvale that runs; 32-bit Windows, like 32-bit Wine, installs no x64
# package, so the x86 test has no other width to try.
if [ "$arch" = x64 ]; then
  install_new "$work/Norvale-$version-x86.msi" x86 "$version" \
    '{5B0E7C1A-2F3D-4E6A-9B8C-7D6E5F4A3B21}' x86
  [ -z "$(apps_entry "$code")" ] || fail "both widths are installed"
  has "$(wincmd "$installed\\Norvale.com" --version)" "^Norvale $version$" \
    "Norvale does not run after the other width replaced it"
fi

# A newer version replaces it, leaving one entry.
newer="$work/Norvale-99.0-$arch.msi"
newer_code='{0D0C5E1E-9C67-4F4E-9F30-2E1A8C7C0B99}'
install_new "$newer" "$arch" 99.0 "$newer_code" newer
[ -z "$(apps_entry "$code")" ] || fail "the older version is still installed"

# The older one over it is refused, by its launch condition.
if "$wine" msiexec /i "$(winpath "$msi")" /qn /l*v "$(winpath "$log")"; then
  fail "an older version installed over a newer one"
fi
grep -aq 'LaunchConditions. Return value 0' "$log" ||
  fail "the older version was refused for another reason"
check_installed "$newer_code" 99.0

# Uninstalling leaves nothing behind.
"$wine" msiexec /x "$(winpath "$newer")" /qn || fail "msiexec /x failed"
[ ! -e "$unix_installed" ] || fail "$installed is left behind"
[ ! -e "$start_menu" ] || fail "the Start menu shortcut is left behind"
[ "$(norvale_entries)" = 0 ] || fail "the Apps entry is left behind"
[ -z "$(reg 'HKCU\Software\Norvale')" ] || fail "HKCU\\Software\\Norvale is left"
[ -z "$(reg "$verb")" ] || fail "the folder verb is left behind"
hasnt "$(reg 'HKCU\Environment' /v PATH)" "Norvale" "PATH still leads to Norvale"

[ "$failed" = 0 ] && echo "The installer installs, upgrades and uninstalls."
exit "$failed"
