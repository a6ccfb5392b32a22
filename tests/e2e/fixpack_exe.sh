#!/usr/bin/env bash
# fixpack.exe under Wine, in the Japanese locale, against the native fixpack:
# the same commands on the same inputs (a large book packed on several
# threads among them), in folders whose names are code page 932 text (定跡,
# an install folder ending in ソ, a book named 表.dat, both of whose last
# bytes are 0x5C), must give the same files byte for byte,
# the same exit statuses and the same output (stdout and stderr; the
# Windows program ends its lines with CR LF, as text written on Windows
# does). Its help must read well in a Windows console: plain ASCII lines of
# at most 79 columns, each ended by CR LF. A package whose one entry names
# one file twice, ｒｅａｄｍｅ.txt and ＲＥＡＤＭＥ.txt, which Windows takes for
# one, is refused alike, with the file kept. And the rule of code page 932 by
# which the native programs compare names must part every one-character
# name as the system does (file_names_check.exe).
#
#   tests/e2e/fixpack_exe.sh [--arch x86_64|i686]...   (both when none is given)
#
# Natively the names are code page 932 bytes, as the system takes them;
# under Wine they are the same names, which Wine keeps on the disk in UTF-8.
# The native folder is compared through a copy whose names are turned into
# UTF-8. Needs the native build (out/native) and the cross builds (out/ARCH).
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$REPO/tests/e2e/lib.sh"
# shellcheck source=tests/e2e/products.sh
source "$REPO/tests/e2e/products.sh"

WORK=$E2E_OUT/fixpack

# The commands, run one after the other in the folder 定跡, with the
# install folder laid out after the books are packed. Names are written in
# UTF-8 here and given to the native fixpack in code page 932.
COMMANDS=(
  "--version"
  "--help"
  "pack 旧定跡.txt -o 旧定跡.dat --buckets 127"
  "pack 新定跡.txt -o 新定跡.dat --buckets 127"
  "pack 分割旧.txt -o 分割旧.dat --divided --buckets 251"
  "pack 分割新.txt -o 分割新.dat --divided --buckets 251"
  "pack 大定跡.txt -o 大定跡.dat --buckets 4093 --threads 3"
  "lay-out-install-folder"
  "diff 旧定跡.dat 新定跡.dat"
  "diff 分割旧.dat 分割新.dat -o 分割差分.bin"
  "build 更新.txt -o upda.dat"
  "verify upda.dat"
  "verify 分割新.dat"
  "inspect upda.dat"
  "inspect 分割新.dat"
  "dump 新定跡.dat -o 新定跡の中身.txt"
  "apply upda.dat 盤燈ソ"
  "apply upda.dat 盤燈ソ --threads=3 --expect 新版"
  "apply 旧定跡.dat 盤燈ソ"
  "pack 旧定跡.txt -o ./旧定跡.txt"
  "build 更新.txt -o旧定跡.dat"
  "help build"
  "biuld 更新.txt"
  "apply 全角.dat 全角"
  "verify 盤燈ソ/分割/表.dat"
  "inspect 壊れた.dat"
  "verify 壊れた.dat"
  "build 無い.txt -o 無い.dat"
)

fail() { log "  FAILED: $*"; return 1; }

to_cp932() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
to_utf8() { printf '%s' "$1" | iconv -f CP932 -t UTF-8; }

# The name of a file on one side: code page 932 bytes natively, as given
# under Wine.
side_name() {  # side name
  if [ "$1" = native ]; then to_cp932 "$2"; else printf '%s' "$2"; fi
}

# The inputs: book texts, the text of a file entry, and the manifest, which
# is code page 932 as the names in it are.
make_inputs() {  # folder (UTF-8 names)
  local folder=$1
  mkdir -p "$folder"
  book_text "$SINGLE_POSITIONS" old >"$folder/旧定跡.txt"
  book_text "$SINGLE_POSITIONS" new >"$folder/新定跡.txt"
  book_text "$DIVIDED_POSITIONS" old >"$folder/分割旧.txt"
  book_text "$DIVIDED_POSITIONS" new >"$folder/分割新.txt"
  # A body of several of the packer's 1 MiB chunks, packed on three threads.
  book_text 100000 old >"$folder/大定跡.txt"
  printf 'version 1.1\r\n' >"$folder/新しい説明.txt"
  to_cp932 '# 盤燈の更新: 定跡、分割された定跡、説明
book    定跡.bak      定跡.dat     旧定跡.dat  新定跡.dat
divided 分割\旧表.dat 分割\表.dat  分割旧.dat  分割新.dat
file    説明.old      説明.txt     新しい説明.txt
' >"$folder/更新.txt"
  # One entry, ｒｅａｄｍｅ.txt kept and ＲＥＡＤＭＥ.txt written: one file on Windows.
  {
    printf '\x02\x00\x00\x00\x11'
    to_cp932 'ｒｅａｄｍｅ.txt'
    printf '\x00\x11'
    to_cp932 'ＲＥＡＤＭＥ.txt'
    printf '\x00\x0d\x00\x00\x00version 1.1\r\n'
  } >"$WORK/全角-script.bin"
  stored_data_file "$WORK/全角-script.bin" "$folder/全角.dat"
}

# The four bytes of a u32 as printf escapes: little-endian, or with "be"
# big-endian.
u32_escapes() {  # value [be]
  local shifts="0 8 16 24" shift out=
  [ "${2:-}" = be ] && shifts="24 16 8 0"
  for shift in $shifts; do out+=$(printf '\\x%02x' $(($1 >> shift & 255))); done
  printf '%s' "$out"
}

# An update data file holding the script in a zlib stream of one stored
# block (header 78 01, the block, the Adler-32 of the script), made here
# since fixpack build refuses what this one holds.
stored_data_file() {  # script-file data-file
  local size a=1 b=0 byte
  size=$(wc -c <"$1")
  for byte in $(od -An -v -tu1 "$1"); do
    a=$(((a + byte) % 65521))
    b=$(((b + a) % 65521))
  done
  {
    # shellcheck disable=SC2059
    printf "$(u32_escapes $((size + 11)))$(u32_escapes "$size")\\x78\\x01\\x01"
    # shellcheck disable=SC2059
    printf "$(u32_escapes $((size | (~size & 0xFFFF) << 16)))"
    cat "$1"
    # shellcheck disable=SC2059
    printf "$(u32_escapes $((b << 16 | a)) be)"
  } >"$2"
}

# Copies a folder, turning every name with `convert`.
copy_renamed() {  # from to convert
  local from=$1 to=$2 convert=$3 path target
  # The names are bytes of either encoding: read them byte for byte, as
  # bash's read in a UTF-8 locale may drop a name that is not UTF-8.
  local LC_ALL=C
  mkdir -p "$to"
  (cd "$from" && find . -mindepth 1 -print0 | sort -z) | while IFS= read -r -d '' path; do
    target=$to/$("$convert" "${path#./}")
    if [ -d "$from/$path" ]; then mkdir -p "$target"; else cp -p "$from/$path" "$target"; fi
  done
}

# The install folder of a product: the old books and the old text of the
# file entry, the divided book in a subfolder as 表.dat. And a book cut
# short, for the failures.
lay_out_install_folder() {  # side
  local folder divided release
  folder=$(side_name "$1" 盤燈ソ)
  divided=$folder/$(side_name "$1" 分割)
  mkdir -p "$divided"
  cp "$(side_name "$1" 旧定跡.dat)" "$folder/$(side_name "$1" 定跡.dat)"
  cp "$(side_name "$1" 分割旧.dat)" "$divided/$(side_name "$1" 表.dat)"
  printf 'version 1.0\r\n' >"$folder/$(side_name "$1" 説明.txt)"
  # The release the update is to reach, for apply --expect.
  release=$(side_name "$1" 新版)
  mkdir -p "$release/$(side_name "$1" 分割)"
  cp "$(side_name "$1" 新定跡.dat)" "$release/$(side_name "$1" 定跡.dat)"
  cp "$(side_name "$1" 分割新.dat)" "$release/$(side_name "$1" 分割)/$(side_name "$1" 表.dat)"
  cp "$(side_name "$1" 新しい説明.txt)" "$release/$(side_name "$1" 説明.txt)"
  mkdir -p "$(side_name "$1" 全角)"
  printf 'version 1.0\r\n' >"$(side_name "$1" 全角)/$(side_name "$1" ＲＥＡＤＭＥ.txt)"
  head -c 100 "$(side_name "$1" 新定跡.dat)" >"$(side_name "$1" 壊れた.dat)"
}

# Runs every command on one side, in its folder 定跡, keeping each one's
# exit status, stdout and stderr under WORK/SIDE/output.
run_side() {  # side program
  local side=$1 program=$2 index=0 command words word arguments output
  output=$WORK/$side/output
  mkdir -p "$output"
  (
    cd "$WORK/$side/$(side_name "$side" 定跡)" || exit 1
    for command in "${COMMANDS[@]}"; do
      index=$((index + 1))
      if [ "$command" = lay-out-install-folder ]; then
        lay_out_install_folder "$side"
        continue
      fi
      read -r -a words <<<"$command"
      arguments=()
      for word in "${words[@]}"; do arguments+=("$(side_name "$side" "$word")"); done
      if [ "$side" = native ]; then
        # Not a UTF-8 terminal: names stay code page 932, as fixpack.exe
        # writes them to a file.
        LC_ALL=C "$program" "${arguments[@]}" >"$output/$index.out" 2>"$output/$index.err"
      else
        wine "$program" "${arguments[@]}" >"$output/$index.out" 2>"$output/$index.err"
      fi
      echo $? >"$output/$index.status"
    done
  )
}

# What the Windows program printed is the native text with CR LF for LF.
same_output() {  # native-file windows-file what
  if ! sed 's/$/\r/' "$1" | cmp -s - "$2"; then
    diff <(sed 's/$/\r/' "$1" | cat -A) <(cat -A "$2") | head -20 >&2
    fail "$3 differs"
  fi
}

compare_side() {  # arch
  local arch=$1 index=0 command result=0 file
  for command in "${COMMANDS[@]}"; do
    index=$((index + 1))
    [ "$command" = lay-out-install-folder ] && continue
    local native=$WORK/native/output/$index windows=$WORK/$arch/output/$index
    if ! cmp -s "$native.status" "$windows.status"; then
      fail "fixpack $command: exit status $(cat "$windows.status"), natively $(cat "$native.status")"
      result=1
    fi
    same_output "$native.out" "$windows.out" "the output of fixpack $command" || result=1
    same_output "$native.err" "$windows.err" "the errors of fixpack $command" || result=1
  done
  rm -rf "$WORK/native-utf8"
  copy_renamed "$WORK/native/$(to_cp932 定跡)" "$WORK/native-utf8" to_utf8
  if ! diff -r "$WORK/native-utf8" "$WORK/$arch/定跡" >&2; then
    fail "the files fixpack.exe made differ from the native fixpack's"
    result=1
  fi
  file=$(cd "$WORK/$arch/定跡" && find . -type f | wc -l)
  log "  $file files compared, $((${#COMMANDS[@]} - 1)) commands' status, output and errors"
  return "$result"
}

# Each help, as a Windows console gets it: ASCII, at most 79 columns, CR LF.
check_help() {  # program
  local command result=0
  for command in "" apply build diff inspect verify dump pack; do
    # shellcheck disable=SC2086
    if ! wine "$1" $command --help | LC_ALL=C awk -v what="fixpack $command --help" '
        !/\r$/ { print what ": line " NR " does not end in CR LF"; bad = 1 }
        { sub(/\r$/, "") }
        length($0) > 79 { print what ": line " NR " is " length($0) " columns"; bad = 1 }
        /[^ -~]/ { print what ": line " NR " is not plain ASCII"; bad = 1 }
        END { exit bad }' >&2; then
      result=1
    fi
  done
  [ "$result" = 0 ] || fail "a help does not read well in a Windows console"
}

main() {
  local arches=() arch all=0
  while [ $# -gt 0 ]; do
    case $1 in
      --arch)
        case ${2:-} in x86_64|i686) arches+=("$2") ;; *) log "--arch x86_64 or i686"; exit 2 ;; esac
        shift 2 ;;
      *) log "usage: $0 [--arch x86_64|i686]..."; exit 2 ;;
    esac
  done
  [ ${#arches[@]} -gt 0 ] || arches=(x86_64 i686)
  [ -x "$FIXPACK" ] || { log "build out/native first (fixpack)"; exit 2; }
  for arch in "${arches[@]}"; do
    [ -f "$E2E_BUILDS/$arch/tools/fixpack.exe" ] || { log "build out/$arch first (fixpack.exe)"; exit 2; }
    [ -f "$E2E_BUILDS/$arch/bin/file_names_check.exe" ] || { log "build out/$arch first (file_names_check.exe)"; exit 2; }
  done
  local ground
  ground_check "${arches[@]}" || { ground=$?; log "fixpack.exe not run"; exit "$ground"; }
  mkdir -p "$E2E_OUT"
  prefix_setup || exit 1
  prefix_check "${arches[@]}" || { ground=$?; log "fixpack.exe not run"; exit "$ground"; }
  wine_start
  trap 'wine_stop' EXIT

  rm -rf "$WORK"
  make_inputs "$WORK/inputs"
  copy_renamed "$WORK/inputs" "$WORK/native/$(to_cp932 定跡)" to_cp932
  log "== the native fixpack"
  run_side native "$FIXPACK" || exit 1
  for arch in "${arches[@]}"; do
    local start=$SECONDS
    log "== fixpack.exe ($arch) under Wine"
    mkdir -p "$WORK/$arch"
    cp -r "$WORK/inputs" "$WORK/$arch/定跡"
    cp "$E2E_BUILDS/$arch/tools/fixpack.exe" "$WORK/$arch/fixpack.exe"
    run_side "$arch" "$WORK/$arch/fixpack.exe"
    local names
    names=$(wine "$E2E_BUILDS/$arch/bin/file_names_check.exe" | tr -d '\r')
    local names_status=${PIPESTATUS[0]}
    log "  file_names_check.exe ($arch): $names"
    [ "$names_status" = 0 ] || fail "the rule of code page 932 parts names otherwise than the system"
    if [ "$names_status" = 0 ] && compare_side "$arch" && check_help "$WORK/$arch/fixpack.exe"; then
      log "ok   fixpack.exe ($arch) gives the native fixpack's files and output ($((SECONDS - start)) s)"
    else
      log "FAIL fixpack.exe ($arch)"
      all=1
    fi
  done
  exit "$all"
}

main "$@"
