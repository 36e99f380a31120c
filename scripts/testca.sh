#!/usr/bin/env bash
# A throwaway certificate authority for tests, made with openssl in FOLDER:
# the CA's certificate ca.pem (its key ca.key) and, for each NAME, a
# code-signing certificate NAME.pem with its key NAME.key, issued by that CA,
# and the two as NAME.p12, whose password is in the file pass. Certificates
# are valid for DAYS days.
#
#   scripts/testca.sh FOLDER DAYS NAME...
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 FOLDER DAYS NAME..." >&2; exit 2; }
k=$1 days=$2
shift 2
mkdir -p "$k"
openssl req -x509 -newkey rsa:2048 -nodes -days "$days" -subj /CN=Throwaway-CA -keyout "$k/ca.key" \
    -out "$k/ca.pem" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign 2>/dev/null
echo throwaway >"$k/pass"
for name in "$@"; do
    openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway-signer-$name" -keyout "$k/$name.key" \
        -out "$k/$name.req" 2>/dev/null
    openssl x509 -req -in "$k/$name.req" -CA "$k/ca.pem" -CAkey "$k/ca.key" -CAcreateserial -days "$days" \
        -out "$k/$name.pem" 2>/dev/null \
        -extfile <(printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n')
    openssl pkcs12 -export -inkey "$k/$name.key" -in "$k/$name.pem" -passout "file:$k/pass" -out "$k/$name.p12"
done
