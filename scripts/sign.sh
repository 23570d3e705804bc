#!/bin/bash
# sign.sh FILE: signs the Windows program FILE in place with Authenticode
# (osslsigncode), SHA-256:
#   QM_SIGN_CERT        the certificate, with the chain up to its root (PEM or DER)
#   QM_SIGN_KEY         its private key
#   QM_SIGN_PASS_FILE   a file holding the key's password, if it has one
#   QM_SIGN_TIMESTAMP   an RFC 3161 time-stamp server, if any
#   QM_SIGN_TIME        the signing time, as Unix time (scripts/package.sh
#                       gives the last commit's)
# Without a time stamp the same file, key and time give the same bytes; a
# time stamp is the server's answer, new each time.
set -euo pipefail
file="$1"
args=(-certs "$QM_SIGN_CERT" -key "$QM_SIGN_KEY" -h sha256)
[ -z "${QM_SIGN_PASS_FILE:-}" ] || args+=(-readpass "$QM_SIGN_PASS_FILE")
[ -z "${QM_SIGN_TIME:-}" ] || args+=(-time "$QM_SIGN_TIME")
[ -z "${QM_SIGN_TIMESTAMP:-}" ] || args+=(-ts "$QM_SIGN_TIMESTAMP")
rm -f "$file.signed"
if ! out="$(osslsigncode sign "${args[@]}" -in "$file" -out "$file.signed" 2>&1)"; then
  echo "sign.sh: cannot sign $file:" >&2
  echo "$out" >&2
  rm -f "$file.signed"
  exit 1
fi
mv "$file.signed" "$file"
