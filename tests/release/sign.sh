#!/usr/bin/env bash
# Signs the program, the check, the package's actions, the fleet's scripts and the package through
# the build's tarvel_signed target with a throw-away self-signed certificate, each signature
# timestamped by a time-stamping authority of the test's own on 127.0.0.1, and checks with
# osslsigncode that every signature and its timestamp verify, inside the signed package too.
# Usage: sign.sh SOURCE_DIR WORK_DIR [RELEASE_BUILD]
# RELEASE_BUILD: a release build tree already configured (the reproducibility test's), which then
# only gains the signing: the suite builds the release once less. Without it, or when it is not
# there, the release is built in WORK_DIR.
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
mkdir -p "$work/tsa"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvel test signing" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

# The time-stamping authority: a CA, a signer for time stamps only, and openssl ts -reply
# behind a few lines of HTTP.
tsa=$work/tsa
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tarvel test TSA root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$tsa/ca.key" -out "$tsa/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Tarvel test TSA" -keyout "$tsa/tsa.key" -out "$tsa/tsa.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' \
    >"$tsa/ext.cnf"
openssl x509 -req -in "$tsa/tsa.csr" -CA "$tsa/ca.pem" -CAkey "$tsa/ca.key" -CAcreateserial -days 2 \
    -extfile "$tsa/ext.cnf" -out "$tsa/tsa.pem" 2>/dev/null
cat >"$tsa/tsa.cnf" <<CNF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $tsa/serial
crypto_device = builtin
signer_cert = $tsa/tsa.pem
certs = $tsa/ca.pem
signer_key = $tsa/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
echo 01 >"$tsa/serial"
python3 - "$tsa" <<'PY' &
import http.server, os, subprocess, sys, tempfile
tsa = sys.argv[1]
class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.NamedTemporaryFile(dir=tsa, delete=False) as f:
            f.write(query)
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(tsa, "tsa.cnf"), "-queryfile",
                                f.name, "-out", "/dev/stdout"], capture_output=True).stdout
        os.unlink(f.name)
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
with open(os.path.join(tsa, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(tsa, "port.tmp"), os.path.join(tsa, "port"))
server.serve_forever()
PY
authority=$!
trap 'kill $authority 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -f "$tsa/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$tsa/port")/"

build=$work/build
if [ -n "${3:-}" ] && [ -f "$3/CMakeCache.txt" ]; then
    build=$3
fi
cmake -S "$source_dir" -B "$build" --toolchain "$source_dir/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVEL_TESTS=OFF -DTARVEL_SIGN_TIMESTAMP_URL="$url" \
    -DTARVEL_SIGN_CERT="$work/cert.pem" -DTARVEL_SIGN_KEY="$work/key.pem" >/dev/null
cmake --build "$build" --target tarvel_signed -j 2 >/dev/null
signed="$build/signed"
package=$(ls "$signed"/tarvel-*.msi)
# What the signed package installs: its own cabinet's files.
mkdir -p "$work/installed"
(cd "$work/installed" && msiextract "$package" >/dev/null)
mapfile -t inside < <(find "$work/installed" -type f \( -name tarvel.exe -o -name tarvel-check.exe \))
[ "${#inside[@]}" -eq 2 ] || { echo "FAIL: the signed package holds no tarvel.exe and tarvel-check.exe"; exit 1; }
scripts=("$signed/Detect-Tarvel.ps1" "$signed/Remediate-Tarvel.ps1" "$signed/Discover-Tarvel.ps1")
for file in "$signed/tarvel.exe" "$signed/tarvel-check.exe" "$signed/tarvel_setup.dll" "$package" "${inside[@]}" \
    "${scripts[@]}"; do
    verify=$(osslsigncode verify -CAfile "$work/cert.pem" -TSA-CAfile "$tsa/ca.pem" -in "$file" 2>&1 || true)
    if ! grep -q "Signature verification: ok" <<<"$verify" || ! grep -q "Timestamp Server Signature verification: ok" <<<"$verify"; then
        echo "$verify"
        echo "FAIL: the signature or the timestamp of $file does not verify"
        exit 1
    fi
done
# The package's actions ride in its Binary table, where no file name tells them apart: the
# signed package must carry the signed DLL, byte for byte.
msiinfo extract "$package" Binary.SetupActions >"$work/actions.dll"
cmp -s "$work/actions.dll" "$signed/tarvel_setup.dll" || { echo "FAIL: the signed package's actions are not the signed DLL"; exit 1; }
# The policy template is text Group Policy reads as it is: beside the signed package, unchanged.
for template in tarvel.admx en-US/tarvel.adml; do
    cmp -s "$source_dir/policy/$template" "$signed/$template" || { echo "FAIL: $template is not beside the signed package as it is"; exit 1; }
done
# The unsigned build stays as it was; the signed copy differs from it only by the signature.
if cmp -s "$build/tarvel.exe" "$signed/tarvel.exe"; then
    echo "FAIL: the signed file is the unsigned one"
    exit 1
fi
if osslsigncode verify -CAfile "$work/cert.pem" -in "$build/tarvel.exe" >/dev/null 2>&1; then
    echo "FAIL: the default build is signed"
    exit 1
fi
echo "signed, timestamped and verified: $(ls "$signed" | tr '\n' ' ')and what the package holds"
rm -rf "$work"
