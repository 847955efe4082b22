#!/usr/bin/env bash
# Makes the test PKI of the bench: an issuer and a document signer that it certifies.
# Every key made here is a TEST KEY, published with the source tree: it must never sign
# anything but test cards.
set -euo pipefail
cd "$(dirname "$0")"

mark='# TEST KEY - carvix-qx test bench only. Public, never trust it, never use it for real cards.'
days=7300

make_key() {
    local file=$1
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$file.tmp" 2>/dev/null
    { echo "$mark"; cat "$file.tmp"; } > "$file"
    rm -f "$file.tmp"
}

cat > issuer.ext <<'EXT'
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
EXT
cat > document-signer.ext <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT

make_key TEST-KEY-issuer.key.pem
openssl req -new -x509 -key TEST-KEY-issuer.key.pem -sha256 -days "$days" -set_serial 1 \
    -subj "/C=XX/O=carvix-qx test bench/CN=TEST Card Issuer" \
    -extensions v3 -config <(printf '[req]\ndistinguished_name=dn\n[dn]\n[v3]\n'; cat issuer.ext) \
    -out issuer.cert.pem

make_key TEST-KEY-document-signer.key.pem
openssl req -new -key TEST-KEY-document-signer.key.pem -sha256 \
    -subj "/C=XX/O=carvix-qx test bench/CN=TEST Document Signer" -out document-signer.csr
openssl x509 -req -in document-signer.csr -CA issuer.cert.pem -CAkey TEST-KEY-issuer.key.pem \
    -set_serial 2 -sha256 -days "$days" -extfile document-signer.ext \
    -out document-signer.cert.pem 2>/dev/null
rm -f document-signer.csr issuer.ext document-signer.ext

for name in issuer document-signer; do
    openssl x509 -in "$name.cert.pem" -outform DER -out "$name.cert.der"
done
# The contactless signer signs the SOD of the contactless part (its certificate goes into the
# test user's "My" store, where the reading side finds it); the card user is the recipient of
# the encrypted contactless write key.
cat > leaf-sign.ext <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
cat > leaf-user.ext <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
make_leaf() {
    local name=$1 cn=$2 serial=$3 ext=$4
    make_key "TEST-KEY-$name.key.pem"
    openssl req -new -key "TEST-KEY-$name.key.pem" -sha256 \
        -subj "/C=XX/O=carvix-qx test bench/CN=$cn" -out "$name.csr"
    openssl x509 -req -in "$name.csr" -CA issuer.cert.pem -CAkey TEST-KEY-issuer.key.pem \
        -set_serial "$serial" -sha256 -days "$days" -extfile "$ext" \
        -out "$name.cert.pem" 2>/dev/null
    rm -f "$name.csr"
}
make_leaf contactless-signer "TEST Contactless Signer" 3 leaf-sign.ext
make_leaf card-user "TEST Card User" 4 leaf-user.ext
rm -f leaf-sign.ext leaf-user.ext
for name in contactless-signer card-user; do
    openssl x509 -in "$name.cert.pem" -outform DER -out "$name.cert.der"
done
echo "made: $(ls)"
