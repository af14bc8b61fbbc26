#!/bin/bash
# Signs copies of the built programs and installer as ./dev package does
# when given a certificate, with a throwaway certificate and timestamp
# authority made here, and checks that Windows would find them signed and
# stamped, that the signed program still runs, and that a failed signing
# leaves each file as it was.
# Usage: sign_test.sh WINE BIN_DIR NORVALE.msi
set -u
wine=$1 bin=$2 msi=$3 failed=0
here=$(cd "$(dirname "$0")" && pwd)
command -v osslsigncode >/dev/null || {
  echo "osslsigncode is not installed"
  exit 77
}
work=$(mktemp -d "${TMPDIR:-/tmp}/norvale-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

# A code-signing certificate with an RSA key in a password-protected .pfx,
# as certificate authorities issue them, and a timestamp authority.
printf '[req]\ndistinguished_name=dn\n[dn]\n[code]\nextendedKeyUsage=critical,codeSigning\n[tsa]\nextendedKeyUsage=critical,timeStamping\n' >x509.cnf
for kind in code tsa; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $kind.key -out $kind.pem \
    -days 2 -subj "/CN=Norvale test $kind" -config x509.cnf -extensions $kind \
    2>/dev/null || fail "cannot make a $kind certificate"
done
printf 'secret' >password
openssl pkcs12 -export -inkey code.key -in code.pem -out code.pfx \
  -passout file:password || fail "cannot make code.pfx"
export NORVALE_SIGN_PKCS12=code.pfx NORVALE_SIGN_PASSWORD_FILE=password \
  NORVALE_SIGN_TSA_CERTS=tsa.pem NORVALE_SIGN_TSA_KEY=tsa.key

files="Norvale.exe Norvale.com $(basename "$msi")"
fresh() { cp "$bin/Norvale.exe" "$bin/Norvale.com" "$msi" .; }
# unchanged WHAT: each file is still the one built, with nothing beside it.
unchanged() {
  for file in $files; do
    [ -n "$(find . -name "$file.*")" ] && fail "$1 left $(find . -name "$file.*")"
    case $file in *.msi) original=$msi ;; *) original=$bin/$file ;; esac
    cmp -s "$file" "$original" || fail "$1 changed $file"
  done
}

# Signed, each verifies against the certificate, with its timestamp.
fresh
bash "$here/sign.sh" $files >/dev/null || fail "signing failed"
for file in $files; do
  verdict=$(osslsigncode verify -CAfile code.pem -TSA-CAfile tsa.pem \
    -in "$file" 2>&1)
  grep -q "^Signature verification: ok" <<<"$verdict" &&
    grep -q "^Timestamp Server Signature verification: ok" <<<"$verdict" ||
    fail "$file is not signed and stamped: $verdict"
done
[ "$("$wine" Norvale.com --version 2>/dev/null | tr -d '\r')" = \
  "$("$wine" "$bin/Norvale.com" --version 2>/dev/null | tr -d '\r')" ] ||
  fail "the signed Norvale.com does not run"

# No certificate: nothing is signed.
fresh
NORVALE_SIGN_PKCS12= bash "$here/sign.sh" $files || fail "unsigned build failed"
unchanged "a build without a certificate"
# failing SETTINGS REASON: signing with these settings fails, saying
# REASON, and no file changes.
failing() {
  env "$1" bash "$here/sign.sh" $files 2>error && fail "$1 signed"
  grep -q "$2" error || fail "$1: no reason: $(cat error)"
  unchanged "$1"
}
printf 'wrong' >wrong
failing NORVALE_SIGN_PASSWORD_FILE=wrong "could not sign Norvale.exe"
failing NORVALE_SIGN_TIMESTAMP=http://127.0.0.1:9/ "could not sign Norvale.exe"
failing NORVALE_SIGN_TSA_CERTS= "no timestamp server"
failing NORVALE_SIGN_PKCS12=missing.pfx "cannot read the certificate"

[ "$failed" = 0 ] && echo "Signing signs, stamps and fails cleanly."
exit "$failed"
