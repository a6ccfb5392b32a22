#!/usr/bin/env bash
# The release, signed and unsigned: makes a throwaway self-signed
# certificate with openssl, runs scripts/release.sh with it, and checks that
# the four programs are signed and verify, that their SHA-256 list holds,
# that the archive carries them, and that the second build of the x86_64
# programs (scripts/reproduce.sh, from a copy of the sources elsewhere),
# signed with the same certificate, gives signatures over the same message
# digest: the signed bytes are the same whichever build was signed. A wrong
# password must fail the release. Last, the release is made again without
# a certificate, which must say so and carry the programs as built.
#
#   bash tests/release/signing_test.sh     (RELEASE_JOBS=N as for release.sh)
set -uo pipefail
cd "$(dirname "$0")/../.."
work=out/signing-test
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The certificate: valid for two days, its key in a PKCS#12 file under a
# random password.
password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=Throwaway test publisher" >"$work/openssl.log" 2>&1 &&
  FIX_SIGN_PASSWORD=$password openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
    -out "$work/cert.p12" -passout env:FIX_SIGN_PASSWORD >>"$work/openssl.log" 2>&1 ||
  { cat "$work/openssl.log"; echo "cannot make the test certificate"; exit 1; }

# The message digest a program's signature covers, as osslsigncode verify
# calculates it from the file; empty when it does not verify.
digest() {  # file
  osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>/dev/null |
    sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p' | head -1
}

if FIX_SIGN_PKCS12=$work/cert.p12 FIX_SIGN_PASSWORD=wrong bash scripts/release.sh >"$work/wrong.log" 2>&1; then
  fail "a wrong password made a release"
fi

FIX_SIGN_PKCS12=$work/cert.p12 FIX_SIGN_PASSWORD=$password bash scripts/release.sh 2>&1 | tee "$work/signed.log"
[ "${PIPESTATUS[0]}" = 0 ] || fail "the signed release failed"
signed=out/x86_64/release/signed
for program in x64/fixmodule.exe x86/fixmodule.exe x64/fixpack.exe x86/fixpack.exe; do
  [ -n "$(digest "$signed/$program")" ] || fail "$program is not signed, or its signature does not verify"
done
(cd "$signed" && sha256sum --quiet -c SHA256SUMS.txt) || fail "the signed programs' SHA-256 list does not hold"
[ "$(wc -l <"$signed/SHA256SUMS.txt")" = 4 ] || fail "the SHA-256 list does not name the four programs"
grep -q '^the archive carries the signed programs$' "$work/signed.log" || fail "the archive's programs are not the signed ones"

# The second build's programs (made again unless scripts/reproduce.sh left
# them from these sources), signed with the same certificate.
if ! cmp -s out/reproduce/x86_64/bin/fixmodule.exe out/x86_64/bin/fixmodule.exe ||
   ! cmp -s out/reproduce/x86_64/tools/fixpack.exe out/x86_64/tools/fixpack.exe; then
  bash scripts/reproduce.sh x86_64 >"$work/reproduce.log" 2>&1 ||
    { cat "$work/reproduce.log"; fail "the second build failed"; }
fi
echo "== the message digests of the two builds' signed x86_64 programs"
for program in bin/fixmodule.exe tools/fixpack.exe; do
  again=$work/again-${program#*/}
  osslsigncode sign -pkcs12 "$work/cert.p12" -readpass <(printf '%s' "$password") \
    -h sha256 -in "out/reproduce/x86_64/$program" -out "$again" >/dev/null 2>&1 || fail "cannot sign $again"
  first=$(digest "$signed/x64/${program#*/}")
  second=$(digest "$again")
  printf '%-14s first build %s\n%-14s second build %s\n' "${program#*/}" "$first" "" "$second"
  [ -n "$first" ] && [ "$first" = "$second" ] || fail "${program#*/}: the two builds' signatures cover different digests"
done

bash scripts/release.sh >"$work/unsigned.log" 2>&1 || { cat "$work/unsigned.log"; fail "the unsigned release failed"; }
grep -q 'UNSIGNED' "$work/unsigned.log" || fail "the unsigned release does not say so"
[ ! -e "$signed" ] || fail "the unsigned release left signed programs beside it"
unpacked=$(find out/x86_64/release/unpacked -maxdepth 1 -mindepth 1 -type d)
cmp -s "$unpacked/x64/fixmodule.exe" out/x86_64/bin/fixmodule.exe &&
  cmp -s "$unpacked/x86/fixmodule.exe" out/i686/bin/fixmodule.exe &&
  cmp -s "$unpacked/publisher/fixpack.exe" out/x86_64/tools/fixpack.exe ||
  fail "the unsigned archive does not carry the programs as built"

if [ "$failures" -gt 0 ]; then echo "signing: $failures check(s) failed"; exit 1; fi
echo "signing: signed, verified and the same digests from both builds; the unsigned release says so"
