#!/usr/bin/env bash
# Signs a copy of TAVOSweeper.exe with Authenticode (osslsigncode), when given
# a PKCS#12 certificate and a file holding its password. Without a
# certificate it says so and writes the copy unsigned. The input is never
# changed, so the built exe stays byte-identical to any rebuild.
#
#   scripts/sign.sh [--pkcs12 FILE --password-file FILE] [--timestamp URL] IN.exe OUT.exe
#
# --timestamp asks that time-stamping server to countersign, so the signature
# outlives the certificate; it needs the network.
set -euo pipefail

usage() { echo "usage: scripts/sign.sh [--pkcs12 FILE --password-file FILE] [--timestamp URL] IN.exe OUT.exe" >&2; exit 2; }

pkcs12= password_file= timestamp=
while [ $# -gt 2 ]; do
  case $1 in
    --pkcs12) pkcs12=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ $# -eq 2 ] || usage
in=$1 out=$2
[ -f "$in" ] || { echo "sign: $in does not exist" >&2; exit 1; }

if [ -z "$pkcs12" ]; then
  cp "$in" "$out"
  echo "sign: no certificate given (--pkcs12): $out is NOT signed"
  exit 0
fi
[ -n "$password_file" ] || { echo "sign: --pkcs12 needs --password-file" >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode is missing (apt-get install osslsigncode)" >&2; exit 1; }

rm -f "$out"
osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
  -n "TAVO利用者ソフト アンインストールツール" ${timestamp:+-ts "$timestamp"} \
  -in "$in" -out "$out"
echo "sign: $out is signed with $pkcs12"
