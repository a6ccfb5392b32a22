#!/usr/bin/env bash
# Makes the release archive: builds the Windows programs for i686 and x86_64
# (the presets mingw-i686 and mingw-x86_64: Release, in out/i686 and
# out/x86_64) and runs the x86_64 build's package target (CPack,
# cmake/release.cmake), which takes the 32-bit updater from out/i686.
# Prints the archive's listing and its SHA-256 list, checked on the
# unpacked archive, and the archive's place.
#
# With a certificate named, the programs are signed first (Authenticode,
# with osslsigncode): fixmodule.exe and fixpack.exe of both builds go
# signed to out/x86_64/release/signed/x64 and x86, each signature is
# verified, their SHA-256 list is written beside them (SHA256SUMS.txt), and
# the archive carries the signed programs. Without one the release is made
# unsigned, and says so.
#
#   scripts/release.sh        (RELEASE_JOBS=N: parallel jobs, default 2)
#
#   FIX_SIGN_PKCS12     the publisher's certificate and key, a PKCS#12 file
#   FIX_SIGN_PASSWORD   its password (read from the environment, never put
#                       on a command line)
#   FIX_SIGN_TIMESTAMP  optional: an RFC 3161 time-stamp server's URL, so
#                       that the signature stays good after the certificate
#                       expires
#   FIX_SIGN_CAFILE     optional: the certificates to verify against (by
#                       default the system's and those in the PKCS#12 file)
set -euo pipefail
cd "$(dirname "$0")/.."
for arch in i686 x86_64; do
  echo "== the $arch programs"
  cmake --preset "mingw-$arch" >"out/mingw-$arch.configure.log" 2>&1 || { cat "out/mingw-$arch.configure.log"; exit 1; }
  cmake --build --preset "mingw-$arch" -j "${RELEASE_JOBS:-2}"
done
release=out/x86_64/release
signed=$release/signed
rm -rf "$signed"
unset FIX_RELEASE_SIGNED

if [ -n "${FIX_SIGN_PKCS12:-}" ]; then
  echo "== signing the programs with $FIX_SIGN_PKCS12"
  command -v osslsigncode >/dev/null || { echo "osslsigncode not found (scripts/setup.sh installs it)"; exit 1; }
  [ -f "$FIX_SIGN_PKCS12" ] || { echo "no certificate file $FIX_SIGN_PKCS12"; exit 1; }
  export FIX_SIGN_PASSWORD=${FIX_SIGN_PASSWORD:-}
  mkdir -p "$signed/x64" "$signed/x86"
  # Verified against the system's authorities and the certificates the
  # publisher's file carries (a self-signed one is its own authority).
  cafile=${FIX_SIGN_CAFILE:-}
  if [ -z "$cafile" ]; then
    cafile=$signed/verify-ca.pem
    cat /etc/ssl/certs/ca-certificates.crt >"$cafile" 2>/dev/null || : >"$cafile"
    openssl pkcs12 -in "$FIX_SIGN_PKCS12" -nokeys -passin env:FIX_SIGN_PASSWORD >>"$cafile" 2>/dev/null ||
      openssl pkcs12 -legacy -in "$FIX_SIGN_PKCS12" -nokeys -passin env:FIX_SIGN_PASSWORD >>"$cafile" ||
      { echo "cannot read the certificates of $FIX_SIGN_PKCS12 (a wrong password?)"; exit 1; }
  fi
  timestamp=()
  [ -z "${FIX_SIGN_TIMESTAMP:-}" ] || timestamp=(-ts "$FIX_SIGN_TIMESTAMP")
  for pair in x64:x86_64 x86:i686; do
    for program in bin/fixmodule.exe tools/fixpack.exe; do
      name=${program#*/}
      out=$signed/${pair%%:*}/$name
      case $name in
        fixmodule.exe) description="盤燈 修正モジュール" ;;
        *) description="盤燈 修正モジュール fixpack" ;;
      esac
      osslsigncode sign -pkcs12 "$FIX_SIGN_PKCS12" -readpass <(printf '%s' "$FIX_SIGN_PASSWORD") \
        -h sha256 -n "$description" "${timestamp[@]}" \
        -in "out/${pair#*:}/$program" -out "$out" >"$out.sign.log" 2>&1 ||
        { cat "$out.sign.log"; echo "signing $out failed"; exit 1; }
      if ! osslsigncode verify -CAfile "$cafile" -in "$out" >"$out.verify.log" 2>&1; then
        cat "$out.verify.log"; echo "the signature of $out does not verify"; exit 1
      fi
      digest=$(sed -n 's/^Calculated message digest *: *\([0-9A-Fa-f]*\).*/\1/p' "$out.verify.log" | head -1)
      signer=$(sed -n 's/^[[:space:]]*Subject: *//p' "$out.verify.log" | head -1)
      echo "signed and verified: $out (message digest $digest; signer $signer)"
      rm -f "$out.sign.log"
    done
  done
  (cd "$signed" && sha256sum x64/fixmodule.exe x86/fixmodule.exe x64/fixpack.exe x86/fixpack.exe >SHA256SUMS.txt &&
    echo "== $signed/SHA256SUMS.txt" && cat SHA256SUMS.txt)
  # The package target's install step takes the programs from here.
  export FIX_RELEASE_SIGNED=$PWD/$signed
else
  echo "== the programs are left UNSIGNED: no certificate named (FIX_SIGN_PKCS12 and FIX_SIGN_PASSWORD;"
  echo "   see docs/publishing.md); Windows warns before running an unsigned program from the internet"
fi

echo "== the archive"
cmake --build --preset mingw-x86_64 --target package
version=$(sed -n 's/^#define FIX_VERSION_TEXT "\(.*\)"$/\1/p' out/x86_64/generated/fix_version.h)
archive=$release/bantou_fix-$version-windows.zip
cmake -E tar tvf "$archive"
echo "== SHA256SUMS.txt, checked on the unpacked archive"
unpacked=$release/unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "../${archive##*/}" && cd "bantou_fix-$version-windows" &&
  cat SHA256SUMS.txt && sha256sum --quiet -c SHA256SUMS.txt)
if [ -n "${FIX_RELEASE_SIGNED:-}" ]; then
  for program in x64/fixmodule.exe x86/fixmodule.exe publisher/fixpack.exe; do
    osslsigncode verify -CAfile "$cafile" -in "$unpacked/bantou_fix-$version-windows/$program" >/dev/null 2>&1 ||
      { echo "$program in the archive is not the signed program"; exit 1; }
  done
  echo "the archive carries the signed programs"
fi
echo "$archive: $(sha256sum <"$archive" | cut -d' ' -f1)"
