#!/bin/sh
# Test certificates, made fresh at build time: a test authority, a server
# certificate it signs for 127.0.0.1, one it signs for another host name, and
# a self-signed one no authority vouches for.
set -e
out="$1"
mkdir -p "$out"
cd "$out"
ec="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"
openssl req -x509 $ec -keyout ca.key -out ca.pem -days 30 -subj "/CN=Orvix Test Authority" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
leaf() { # name subjectAltName
    openssl req -new $ec -keyout "$1.key" -out "$1.csr" -subj "/CN=$1" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$2" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile "$1.ext" \
        -out "$1.pem" 2>/dev/null
    rm -f "$1.csr" "$1.ext"
}
leaf server "IP:127.0.0.1,DNS:localhost"
leaf wronghost "DNS:wrong.example"
openssl req -x509 $ec -keyout unknown.key -out unknown.pem -days 30 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1" 2>/dev/null
