#!/bin/sh
# Runs Norvale.exe from cmd.exe under Wine, as a batch file or a scheduled
# task would: cmd waits for the run, gets its exit status (%ERRORLEVEL%) and
# what it prints. Usage: cmd_test_win.sh WINE NORVALE_EXE
set -u
wine=$1 exe=Z:$2 failed=0
work=$(mktemp -d "${TMPDIR:-/tmp}/norvale-cmd.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir -p Src/News || exit 1
printf '[InternetShortcut]\r\nURL=http://a/\r\n' | tee Src/a.url >Src/News/b.url
# expect STATUS STDOUT_LINE STDERR_START ARGUMENT...
expect() {
  status=$1 out=$2 err=$3
  shift 3
  "$wine" cmd /c "$exe $*" >out.txt 2>err.txt
  got="$? \"$(head -n 1 out.txt)\" \"$(head -c ${#err} err.txt)\""
  if [ "$got" != "$status \"$out\" \"$err\"" ]; then
    echo "Norvale.exe $*: expected $status \"$out\" \"$err\", got $got" >&2
    failed=1
  fi
}
expect 0 "Norvale 1.00" "" --version
expect 0 "Compressed 2 favorites." "" --run Src Out
expect 1 "" "Norvale: Could not read the folder \"Z:" --run Gone Out
expect 2 "" "Norvale: unrecognized option '--bogus'" --bogus Src
exit "$failed"
