#!/usr/bin/env bash
# The publisher's upgrade key pair and upgrade signatures.
#
#   upgrade-key.sh new [DIR]     makes DIR (default ~/tarnwell-upgrade-key) with
#                                upgrade-private.pem (mode 0600) and upgrade-public.pem,
#                                a 2048-bit RSA pair with exponent 17
#   upgrade-key.sh sign KEY FILE prints the signature text of FILE for an Upgrade
#                                request (RSASSA-PKCS1-v1_5, SHA-1, upper-case hex)
#
# Build the agent with the public half: cmake ... -DUA_UPGRADE_PUBLIC_KEY=DIR/upgrade-public.pem
set -euo pipefail

usage() {
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

repo=$(cd "$(dirname "$0")/.." && pwd -P)

case "${1:-}" in
  new)
    [ $# -le 2 ] || usage
    dir=$(realpath -m "${2:-"$HOME/tarnwell-upgrade-key"}")
    case "$dir/" in
      "$repo"/*)
        echo "upgrade-key.sh: $dir is inside the repository; keep the private key elsewhere" >&2
        exit 1
        ;;
    esac
    mkdir -p "$dir"
    private="$dir/upgrade-private.pem"
    public="$dir/upgrade-public.pem"
    if [ -e "$private" ]; then
      echo "upgrade-key.sh: $private exists; not replaced" >&2
      exit 1
    fi
    (
      umask 077
      openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
        -pkeyopt rsa_keygen_pubexp:17 -out "$private" 2>/dev/null
    )
    chmod 600 "$private"
    openssl pkey -in "$private" -pubout -out "$public"
    echo "private key: $private"
    echo "public key:  $public"
    ;;
  sign)
    [ $# -eq 3 ] || usage
    openssl dgst -sha1 -sign "$2" "$3" | od -An -tx1 -v | tr -d ' \n' | tr a-f A-F
    echo
    ;;
  *)
    usage
    ;;
esac
