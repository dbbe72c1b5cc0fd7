#!/usr/bin/env bash
# Signs tarvel.exe and its package through the build's tarvel_signed target with a
# throw-away self-signed certificate, and checks the signatures with osslsigncode.
# Usage: sign.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvel test signing" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cmake -S "$source_dir" -B "$work/build" --toolchain "$source_dir/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVEL_TESTS=OFF \
    -DTARVEL_SIGN_CERT="$work/cert.pem" -DTARVEL_SIGN_KEY="$work/key.pem" >/dev/null
cmake --build "$work/build" --target tarvel_signed -j 2 >/dev/null
signed="$work/build/signed/tarvel.exe"
for file in "$signed" "$work"/build/signed/tarvel-*.msi; do
    verify=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$file" 2>&1 || true)
    if ! grep -q "Signature verification: ok" <<<"$verify"; then
        echo "$verify"
        echo "FAIL: the signature of $file does not verify"
        exit 1
    fi
done
# The unsigned build stays as it was; the signed copy differs from it only by the signature.
if cmp -s "$work/build/tarvel.exe" "$signed"; then
    echo "FAIL: the signed file is the unsigned one"
    exit 1
fi
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/build/tarvel.exe" >/dev/null 2>&1; then
    echo "FAIL: the default build is signed"
    exit 1
fi
echo "signed and verified: $signed and the package"
rm -rf "$work"
