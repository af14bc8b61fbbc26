#!/bin/bash
# Signs Windows programs and installers in place (Authenticode, SHA-256,
# with an RFC 3161 timestamp, so that the signature stays valid after the
# certificate expires), when the owner has given a code-signing
# certificate; without one it does nothing and the files stay unsigned.
#
#   NORVALE_SIGN_PKCS12         the certificate, its chain and its RSA key,
#                               as a .pfx or .p12 file
#   NORVALE_SIGN_PASSWORD_FILE  a file holding that file's password, if any
#   NORVALE_SIGN_TIMESTAMP      the certificate authority's timestamp server
#                               (an http:// or https:// address), or
#   NORVALE_SIGN_TSA_CERTS and NORVALE_SIGN_TSA_KEY
#                               a timestamp authority's certificate and key
#                               to stamp with here, for signing offline
#
# A file is replaced by its signed copy only once that verifies, so a
# failure never leaves a half-signed file.
# Usage: sign.sh FILE...
set -euo pipefail
[ -n "${NORVALE_SIGN_PKCS12:-}" ] || exit 0

fail() {
  echo "sign.sh: $*" >&2
  exit 1
}
[ -r "$NORVALE_SIGN_PKCS12" ] ||
  fail "cannot read the certificate NORVALE_SIGN_PKCS12=$NORVALE_SIGN_PKCS12"
options=(-pkcs12 "$NORVALE_SIGN_PKCS12" -h sha256 -n Norvale)
if [ -n "${NORVALE_SIGN_PASSWORD_FILE:-}" ]; then
  options+=(-readpass "$NORVALE_SIGN_PASSWORD_FILE")
fi
if [ -n "${NORVALE_SIGN_TIMESTAMP:-}" ]; then
  options+=(-ts "$NORVALE_SIGN_TIMESTAMP")
elif [ -n "${NORVALE_SIGN_TSA_CERTS:-}" ] && [ -n "${NORVALE_SIGN_TSA_KEY:-}" ]; then
  options+=(-TSA-certs "$NORVALE_SIGN_TSA_CERTS"
    -TSA-key "$NORVALE_SIGN_TSA_KEY")
else
  fail "no timestamp server: set NORVALE_SIGN_TIMESTAMP to your certificate" \
    "authority's RFC 3161 address, as a signature without a timestamp ends" \
    "with the certificate"
fi

for file; do
  signed="$file.signed"
  rm -f "$signed"
  if ! log=$(osslsigncode sign "${options[@]}" -in "$file" -out "$signed" 2>&1) ||
    [ ! -s "$signed" ]; then
    rm -f "$signed"
    fail "could not sign $file: $log"
  fi
  mv -f "$signed" "$file"
  echo "Signed $file"
done
