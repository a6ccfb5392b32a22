# Install folders and update data files for the scenarios. Sourced by run.sh.
#
# The data files are written by the native build's fixmod_demo_data (whole
# file entries); fixpack apply, the publisher's check, gives the reference
# result that the updater's folders must equal.

DATA_WRITER=$E2E_NATIVE/src/app/console/fixmod_demo_data

# How many extra entries a large package has.
LARGE_ENTRIES=${FIX_E2E_LARGE_ENTRIES:-200}

# The product file that the held-file scenario keeps open.
HELD_FILE=readme.txt

# Lays an install folder and writes the update data file that brings it up
# to date: a readme and a settings file rewritten, a new file added, and
# with "large" many more new files, so that the update takes a moment.
make_product() {  # folder data-file [large]
  local folder=$1 data=$2 name=${1##*/} work
  work=$(mktemp -d "${folder%/*}/.make.XXXXXX")
  mkdir -p "$folder"
  printf '%s 1.0\r\n' "$name" >"$folder/readme.txt"
  printf '[view]\r\nboard=classic\r\n' >"$folder/bantoki.ini"
  printf '%s 1.1\r\nfixed the clock\r\n' "$name" >"$work/readme.txt"
  printf '[view]\r\nboard=classic\r\nhighlight=on\r\n' >"$work/bantoki.ini"
  printf 'voice data\0\1\2\3' >"$work/voice.dat"
  local entries=(readme.old readme.txt "$work/readme.txt"
                 bantoki.bak bantoki.ini "$work/bantoki.ini"
                 voice.old voice.dat "$work/voice.dat")
  if [ "${3:-}" = large ]; then
    # Many small entries: each one a rename, a write, a flush and a rename,
    # so that the update lasts long enough to be seen.
    local i
    mkdir -p "$work/voices"
    for i in $(seq -w 1 "$LARGE_ENTRIES"); do
      printf 'voice %s\0' "$i" >"$work/voices/v$i.dat"
      entries+=("v$i.old" "v$i.dat" "$work/voices/v$i.dat")
    done
  fi
  "$DATA_WRITER" "$data" "${entries[@]}" || { rm -rf "$work"; return 1; }
  rm -rf "$work"
}

# What fixpack apply makes of a copy of `before` with the same data file.
reference_apply() {  # before data-file expected
  rm -rf "$3"
  cp -r "$1" "$3"
  "$FIXPACK" apply "$2" "$3" >/dev/null || fail "fixpack apply failed on $2"
}

# Spoils a data file: its zlib stream loses its tail.
damage() {  # data-file
  local size
  size=$(stat -c %s "$1")
  truncate -s $((size - 6)) "$1"
}
