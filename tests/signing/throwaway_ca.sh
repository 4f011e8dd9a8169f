#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate it
# issued, for the tests only, in DIR: ca.pem (the root to trust), signer.p12
# (the certificate and its key) and password (the PKCS#12 file's). Never
# kept: the caller removes DIR.
# Usage: throwaway_ca.sh DIR
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -sha256 \
  -subj "/CN=Fenwarel Test Root (throwaway)" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=Zelmoor Test Signing (throwaway)/O=Zelmoor" 2>/dev/null
printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem \
  -days 2 -sha256 -extfile signer.ext 2>/dev/null
openssl rand -hex 16 >password
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12 \
  -passout file:password
rm -f ca.key signer.key signer.csr signer.ext ca.srl
