#!/bin/sh
# Runs Norvale under Wine as people and scripts start it from cmd.exe: from
# batch files, which wait for Norvale.exe and Norvale.com alike, typed at an
# interactive prompt, which waits for Norvale.com only, and stopped with
# Ctrl+C while its output goes to a file, also when started with Ctrl+C
# ignored (IGNORING_COM, a Norvale.com that starts so). Each checks the exit status
# (%ERRORLEVEL%) and what was printed, as the bytes that type and findstr
# read; a second Ctrl+C ends a run whose read blocks (SLOW_COM, a
# Norvale.com whose every read takes a minute); and a run goes on past copies
# online only (ONLINE_COM, a Norvale.com that shows the files
# NORVALE_ONLINE_ONLY names as OneDrive does after "Free up space", and
# fails to read them, as offline). Every wait ends when what it waits for
# happens, so a busy machine only makes it slower.
# Usage: cmd_test_win.sh WINE NORVALE_EXE SLOW_COM IGNORING_COM ONLINE_COM
set -u
wine=$1 exe=$2 slow=$3 ignoring=$4 online=$5 failed=0
work=$(mktemp -d "${TMPDIR:-/tmp}/norvale-cmd.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" && mkdir -p Src/News "My Favs" Odd || exit 1
printf '[InternetShortcut]\r\nURL=http://a/\r\n' |
  tee Src/a.url "My Favs/c.url" >Src/News/b.url
# A name that OEM code pages hold in part ("Ａcafé.url"), with a folder in
# the way of its copy.
odd=$(printf '\357\274\241caf\303\251.url')
cp Src/a.url "Odd/$odd" && mkdir -p "OddOut/$odd"
# A typed "Norvale" finds Norvale.com before Norvale.exe, as on Windows.
windows() { printf 'Z:%s' "$1" | tr / '\\'; }
WINEPATH=$(windows "$(dirname "$exe")")
export WINEPATH

fail() {
  echo "$*" >&2
  failed=1
}
# Both programs declare the Windows versions they know and long paths.
for program in Norvale.exe Norvale.com; do
  wrestool -x --raw -t 24 "$(dirname "$exe")/$program" 2>/dev/null |
    grep -q longPathAware || fail "$program has no manifest"
done

# expect STATUS OUT ERR COMMAND: runs COMMAND from a batch file, its output
# and errors going to files, whose starts must be OUT and ERR.
expect() {
  status=$1 out=$2 err=$3
  printf '@%s >out.txt 2>err.txt\r\n' "$4" >run.bat
  "$wine" cmd /c run.bat
  got="$? [$(head -c ${#out} out.txt)] [$(head -c ${#err} err.txt)]"
  [ "$got" = "$status [$out] [$err]" ] || fail "$4: expected $status [$out] [$err], got $got"
}
expect 0 "Norvale 1.00" "" "Norvale --version"
expect 0 "Usage: Norvale" "" "Norvale /?"
grep -q "your Favorites folder" out.txt || fail "/? speaks of other folders"
expect 0 "Compressed 2 favorites.$(printf '\r')" "" "Norvale --run Src Out"
# PowerShell completes a folder with a backslash before its closing quote.
expect 0 "Compressed 1 favorites." "" 'Norvale --run "My Favs\" FavsOut'
expect 1 "" "Norvale: Could not read the folder \"$(windows "$work")\\Gone\"" \
  "Norvale --run Gone Out"
expect 1 "" "Norvale: Could not write \"$(windows "$work")\\OddOut\\?caf$(
  printf '\202')" "Norvale --run Odd OddOut"
expect 2 "" "Norvale: unrecognized option '-reverse'" "Norvale -reverse Src"
[ "$(cat FavsOut/c.url)" = "$(cat Src/a.url)" ] || fail "My Favs not copied"
# Norvale.exe, a window program, waited for by cmd /c as by a batch file.
"$wine" cmd /c "Z:$exe --run Src ExeOut" >out.txt 2>&1
[ $? = 0 ] && grep -q "^Compressed 2 favorites" out.txt || fail "Norvale.exe"

# Copies online only not proven Norvale's by the record (a.url is) are left
# unread, named with -v, and end the run, dry or --delete, with status 3.
expect 0 "Compressed 2 favorites." "" "Norvale --run Src CloudOut"
printf '[InternetShortcut]\r\nURL=http://a/\r\n' |
  tee CloudOut/News/b.url >CloudOut/Old.url
export NORVALE_ONLINE_ONLY='CloudOut\a.url;CloudOut\News\b.url;CloudOut\Old.url'
for options in "-v" "-n -v" "--delete -v"; do
  expect 3 "? News\\b.url$(printf '\r')
? Old.url$(printf '\r')" "" "$(windows "$online") --run $options Src CloudOut"
  grep -q "1 up to date already. 2 copies could not be checked" out.txt &&
    grep -q '"Always keep on this device"' out.txt && [ -f CloudOut/Old.url ] ||
    fail "online only, $options: $(cat out.txt)"
done
unset NORVALE_ONLINE_ONLY

# wait_for FILE: waits for FILE to hold something, at most two minutes.
wait_for() {
  for _ in $(seq 2400); do [ -s "$1" ] && break || sleep 0.05; done
}

# Typed at a prompt, the prompt waits for the run and gets its status. The
# terminal keeps each typed Enter as it is for the console to read, once
# it is set so.
{
  wait_for ready
  printf 'Norvale --run Gone Out >nul 2>&1\r>st.txt echo %%ERRORLEVEL%%\rexit\r'
  wait_for st.txt
} | timeout 150 script -qec "stty -icrnl -echo; echo >ready; '$wine' cmd" \
  /dev/null >/dev/null
[ "$(tr -d ' \r\n' <st.txt)" = 1 ] || fail "a typed run's status: $(cat st.txt)"

# Ctrl+C, its output in a file, stops the run at the next shortcut; what
# was written stays, and it says how many. So too when Norvale was started
# with Ctrl+C ignored, which it inherits: it takes Ctrl+C again.
i=0
while [ $i -lt 4000 ]; do
  [ $((i % 40)) = 0 ] && mkdir -p Big/$i
  printf '[InternetShortcut]\r\nURL=http://%s/\r\n' $i >Big/$((i / 40 * 40))/$i.url
  i=$((i + 1))
done
for com in "$(dirname "$exe")/Norvale.com" "$ignoring"; do
  rm -rf out.txt BigOut
  {
    for _ in $(seq 2400); do
      [ "$(find BigOut -type f 2>/dev/null | head -n 50 | wc -l)" = 50 ] && break
      sleep 0.05
    done
    printf '\003'
    wait_for out.txt
  } | timeout 150 script -qec "'$wine' '$com' --run Big BigOut >out.txt 2>&1" \
    /dev/null >/dev/null
  status=$? written=$(find BigOut -type f -name "*.url" | wc -l)
  grep -q "^Cancelled. $written of 4000 shortcuts were written." out.txt &&
    [ $status = 130 ] && [ "$written" -lt 4000 ] ||
    fail "Ctrl+C to $(basename "$com"): status $status, $written written: $(cat out.txt)"
done

# A read that blocks: the first Ctrl+C cannot stop the run until it
# returns, a later one ends the program at once, writing nothing. Ctrl+C
# is pressed from when the read blocks until the program ends.
rm -f out.txt blocked blocked_at
{
  wait_for blocked
  date +%s >blocked_at
  while printf '\003'; do sleep 0.5; done
} | timeout 150 script -qec "'$wine' '$slow' --run Src SlowOut >out.txt 2>&1" \
  /dev/null >/dev/null
status=$? took=$(($(date +%s) - $(cat blocked_at 2>/dev/null || echo 0)))
[ $status != 0 ] && [ $status != 124 ] && [ $took -lt 60 ] &&
  [ -z "$(find SlowOut -type f 2>/dev/null)" ] ||
  fail "a second Ctrl+C: status $status after $took s: $(cat out.txt)"
exit "$failed"
