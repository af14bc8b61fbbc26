#!/bin/sh
# Runs Norvale.exe from cmd.exe under Wine, as a batch file or a scheduled
# task would: cmd waits for the run, gets its exit status (%ERRORLEVEL%) and
# what it prints. Usage: cmd_test_win.sh WINE NORVALE_EXE
set -u
wine=$1 exe=Z:$2
work=$(mktemp -d "${TMPDIR:-/tmp}/norvale-cmd.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir -p Src/News
printf '[InternetShortcut]\r\nURL=http://a/\r\n' >Src/a.url
printf '[InternetShortcut]\r\nURL=http://b/\r\nIcon=x\r\n' >Src/News/b.url
failed=0
# expect STATUS STDOUT STDERR_START ARGUMENT...
expect() {
  status=$1 out=$2 err=$3
  shift 3
  "$wine" cmd /c "$exe $*" >out.txt 2>err.txt
  got=$?
  case "$(head -n 1 err.txt)" in
    "$err"*) ;;
    *) got="$got, standard error $(cat err.txt)" ;;
  esac
  if [ "$got" != "$status" ] || [ "$(cat out.txt)" != "$out" ]; then
    echo "Norvale.exe $*: expected $status \"$out\" \"$err\"," \
      "got $got \"$(cat out.txt)\"" >&2
    failed=1
  fi
}
expect 0 "Norvale 1.00" "" --version
expect 0 "Compressed 2 favorites." "" --run Src Out
expect 1 "" "Norvale: Could not read the folder \"Z:" --run Gone Out
expect 2 "" "Norvale: unrecognized option '--bogus'" --bogus Src
[ "$(cat Out/News/b.url)" = "$(printf '[InternetShortcut]\r\nURL=http://b/\r')" ] ||
  { echo "Out/News/b.url is no compact copy" >&2; failed=1; }
exit "$failed"
