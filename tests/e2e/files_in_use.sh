# Scenarios of files that Windows handles apart: a file another program
# holds for a moment, a product still running, an install folder whose path
# comes close to the system's limit. Sourced by run.sh, whose helpers they
# use.

# A virus scanner reads the single book, sharing reading and writing but not
# deletion, from before the update until half a second after the updater
# first tried to replace it (the book then has its second name, joseki.old):
# the updater waits for it, and the folder ends as fixpack apply's.
scenario_scanned_file() {
  begin scanned-file
  make_product "$DIR/C" "$DIR/updater/updc.dat"
  cp -r "$DIR/C" "$DIR/before"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  drv scan "$(winpath "$DIR/C/joseki.dat")" 500 >"$DIR/scan.log" 2>&1 &
  local scanner=$! i result=0
  for i in $(seq 100); do grep -qs held "$DIR/scan.log" && break; sleep 0.1; done
  {
    grep -qs held "$DIR/scan.log" || fail "cannot scan: $(cat "$DIR/scan.log")"
  } &&
  updater_start "$DIR/updater" && {
    expect "$GREETING" 1 0 greeting &&
    press ok &&
    expect "$(question '盤燈 白の巻' "$(winpath "$DIR/C")")" 1 1 question &&
    press ok &&
    expect "$SUCCEEDED" 1 0 succeeded &&
    press ok &&
    expect_end "$SUCCEEDED" && expect_exit 0
  } || result=1
  wait "$scanner"
  [ "$result" = 0 ] || return 1
  grep -qs 'names 2' "$DIR/scan.log" ||
    fail "the scanner let go before the updater waited for it: $(cat "$DIR/scan.log")" || return 1
  reference_apply "$DIR/before" "$DIR/updater/updc.dat" "$DIR/expected" || return 1
  same_tree "$DIR/C" "$DIR/expected" "the folder differs from fixpack apply's"
}

# The product's own executable, running while the update rewrites it. As
# Windows, Wine maps a running program's file: it can be renamed and given
# a second name, but neither replaced nor removed under any name. The
# updater keeps it under BantokiA.old and moves the new file into its name,
# and the running program goes on; the file's third name, the updater's own
# ~fix….old, cannot go while the program runs and stays. The next run,
# after the program has ended, removes it and leaves the two files.
scenario_running_product() {
  begin running-product
  mkdir -p "$DIR/A" "$DIR/work"
  cp "$DRIVER_EXE" "$DIR/A/BantokiA.exe"
  cp "$DIR/A/BantokiA.exe" "$DIR/before.exe"
  printf 'BantokiA release 2\r\n' >"$DIR/work/BantokiA.exe"
  printf 'file BantokiA.old BantokiA.exe BantokiA.exe\n' >"$DIR/work/manifest"
  "$FIXPACK" build "$DIR/work/manifest" -o "$DIR/updater/upda.dat" >/dev/null ||
    fail "fixpack build" || return 1
  register_product BantokiA.exe "$(winpath "$DIR/A")"
  touch "$DIR/running" "$DIR/held.txt"
  wine "$DIR/A/BantokiA.exe" hold "$(winpath "$DIR/held.txt")" "$(winpath "$DIR/running")" \
    >"$DIR/product.log" 2>&1 &
  local product=$! i
  for i in $(seq 100); do grep -qs held "$DIR/product.log" && break; sleep 0.1; done
  grep -qs held "$DIR/product.log" || { rm -f "$DIR/running"; wait "$product"; fail "the product did not start"; } ||
    return 1
  local result=0
  update_a running-first || result=1
  kill -0 "$product" 2>/dev/null || { fail "the product ended during the update"; result=1; }
  rm -f "$DIR/running"
  wait "$product" || { fail "the product failed: $(cat "$DIR/product.log")"; result=1; }
  [ "$result" = 0 ] || return 1
  cmp -s "$DIR/A/BantokiA.old" "$DIR/before.exe" || fail "the running executable was not kept" || return 1
  cmp -s "$DIR/A/BantokiA.exe" "$DIR/work/BantokiA.exe" || fail "the executable was not written" || return 1
  local left third
  left=$(cd "$DIR/A" && ls | grep -v '^BantokiA\.\(exe\|old\)$')
  for third in $left; do
    case $third in
      '~fix'*.old) [ "$(stat -c %i "$DIR/A/$third")" = "$(stat -c %i "$DIR/A/BantokiA.old")" ] ||
                     fail "$third is not the kept executable" || return 1 ;;
      *) fail "the folder holds $third" || return 1 ;;
    esac
  done
  log "  while it ran: ${left:-no third name left}"

  update_a running-after || return 1
  cmp -s "$DIR/A/BantokiA.old" "$DIR/before.exe" && cmp -s "$DIR/A/BantokiA.exe" "$DIR/work/BantokiA.exe" ||
    fail "the second run changed what the first made" || return 1
  left=$(cd "$DIR/A" && ls | sort | tr '\n' ' ')
  [ "$left" = "BantokiA.exe BantokiA.old " ] || fail "after the product ended the folder holds $left"
}

# An install folder whose Windows path is `length` characters long, under
# the scenario's folder; its path on this side is printed.
long_folder() {  # length
  local base now part
  base=$DIR/long
  mkdir -p "$base"
  now=$(winpath "$base")
  while [ "${#now}" -lt "$1" ]; do
    part=$(( $1 - ${#now} - 1 ))
    [ "$part" -le 100 ] || part=100
    [ "$part" -ge 1 ] || part=1
    base=$base/$(printf '%*s' "$part" '' | tr ' ' 'd')
    now=$(winpath "$base")
  done
  mkdir -p "$base"
  printf '%s' "$base"
}

# A product of a single book and a readme, and its update, in a folder.
make_book_product() {  # folder data-file
  local work
  work=$(mktemp -d "$DIR/.make.XXXXXX")
  {
    book_text "$SINGLE_POSITIONS" old >"$work/old.txt" &&
    book_text "$SINGLE_POSITIONS" new >"$work/new.txt" &&
    "$FIXPACK" pack "$work/old.txt" -o "$work/old.dat" --buckets 127 &&
    "$FIXPACK" pack "$work/new.txt" -o "$work/new.dat" --buckets 127 &&
    cp "$work/old.dat" "$1/joseki.dat" &&
    printf 'release 1\r\n' >"$1/readme.txt" &&
    printf 'release 2\r\n' >"$work/readme.txt" &&
    printf 'book joseki.old joseki.dat old.dat new.dat\nfile readme.old readme.txt readme.txt\n' \
      >"$work/manifest" &&
    "$FIXPACK" build "$work/manifest" -o "$2"
  } >"$work/log" 2>&1 || { cat "$work/log" >&2; rm -rf "$work"; return 1; }
  rm -rf "$work"
}

# A folder of 248 characters holds joseki.dat within MAX_PATH (259
# characters and the terminator): the update succeeds, as fixpack apply's,
# though the updater's own temporary files have longer names. In a folder
# one character longer the entry's own names do not fit, and the update
# fails with nothing changed.
scenario_long_folder() {
  begin long-folder
  local folder
  folder=$(long_folder 248) || return 1
  make_book_product "$folder" "$DIR/updater/upda.dat" || return 1
  rm -rf "$DIR/before" && cp -r "$folder" "$DIR/before"
  register_product BantokiA.exe "$(winpath "$folder")"
  local wfolder
  wfolder=$(winpath "$folder")
  [ "${#wfolder}" = 248 ] || fail "the folder is ${#wfolder} characters long" || return 1
  updater_start "$DIR/updater"
  { expect "$GREETING" 1 0 greeting && press ok &&
    expect "$(question '盤燈 青の巻' "$wfolder")" 1 1 question && press ok &&
    expect "$SUCCEEDED" 1 0 succeeded && press ok && expect_end "$SUCCEEDED" && expect_exit 0; } || return 1
  reference_apply "$DIR/before" "$DIR/updater/upda.dat" "$DIR/expected" || return 1
  same_tree "$folder" "$DIR/expected" "the long folder differs from fixpack apply's" || return 1

  rm -rf "$DIR/long" && folder=$(long_folder 249) || return 1
  make_book_product "$folder" "$DIR/updater/upda.dat" || return 1
  rm -rf "$DIR/before" && cp -r "$folder" "$DIR/before"
  wfolder=$(winpath "$folder")
  register_product BantokiA.exe "$wfolder"
  updater_start "$DIR/updater"
  { expect "$GREETING" 1 0 too-long-greeting && press ok &&
    expect "$(question '盤燈 青の巻' "$wfolder")" 1 1 too-long-question && press ok &&
    expect "$FAILED" 1 0 too-long-failed && press ok && expect_end "$FAILED" && expect_exit 0; } || return 1
  same_tree "$folder" "$DIR/before" "a folder too long for the entry's names was changed"
}
