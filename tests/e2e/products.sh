# Install folders and update data files for the scenarios, made with the
# companion command line (fixpack) of the native build: books with
# `fixpack pack`, data files with `fixpack build`, and the reference result
# that the updater's folders must equal with `fixpack apply`. Sourced by
# run.sh.

# Positions of a product's books: the single book, the divided book, and
# the divided book of a large product (whose merge takes a moment, long
# enough to see the updating state).
SINGLE_POSITIONS=300
DIVIDED_POSITIONS=2000
LARGE_POSITIONS=${FIX_E2E_LARGE_POSITIONS:-60000}

# The product file that the held-file scenario keeps open.
HELD_FILE=joseki.dat
# A product file whose name ends in 表, whose second byte in code page 932
# is 0x5C, and the name it is kept under, ending in 表 as well.
TRAIL5C_FILE=一覧表
TRAIL5C_KEPT=旧一覧表

# The text form of a book (see fixpack pack --help) and, with "new", of the
# book it becomes: some positions lose a move, some gain one, some change
# one, some vanish and some are new. Keys are spread over all 64 divisions
# by the top bits of their high words.
book_text() {  # positions old|new
  awk -v n="$1" -v form="$2" 'BEGIN {
    two32 = 4294967296
    last = form == "new" ? n + int(n / 10) : n
    for (i = 1; i <= last; i++) {
      low = (64 + i * 2654435761) % two32
      high = (i * 2246822519) % two32
      if (low < 64 || low == two32 - 1) continue
      if (form == "new" && i % 11 == 0) continue       # the position goes
      moves = 1 + i % 3
      if (form == "new" && i % 7 == 0 && moves > 1) moves--   # a move goes
      line = sprintf("%08x %08x", low, high)
      for (k = 0; k < moves; k++) {
        data = i * (k + 1)
        if (form == "new" && i % 3 == 0 && k == 0) data++      # a move changes
        line = line sprintf(" %04x:%04x:%08x", (i * 7 + k * 13) % 60000, k, data % two32)
      }
      if (form == "new" && i % 5 == 0)                          # a move comes
        line = line sprintf(" %04x:0000:00000001", 60001 + i % 100)
      print line
    }
  }'
}

# Lays an install folder and writes the update data file that brings it up
# to date: a single book and a divided book merged, a readme and a settings
# file rewritten, a new file added. With "large" the divided book is large;
# with "trail5c" the folder holds $TRAIL5C_FILE too, rewritten as well.
make_product() {  # folder data-file [large] [trail5c]
  local folder=$1 data=$2 name=${1##*/} work divided=$DIVIDED_POSITIONS trail5c=0 option
  for option in "${@:3}"; do
    case $option in
      large) divided=$LARGE_POSITIONS ;;
      trail5c) trail5c=1 ;;
    esac
  done
  work=$(mktemp -d "${folder%/*}/.make.XXXXXX")
  mkdir -p "$folder"
  {
    book_text "$SINGLE_POSITIONS" old >"$work/single-old.txt" &&
    book_text "$SINGLE_POSITIONS" new >"$work/single-new.txt" &&
    book_text "$divided" old >"$work/divided-old.txt" &&
    book_text "$divided" new >"$work/divided-new.txt" &&
    "$FIXPACK" pack "$work/single-old.txt" -o "$work/single-old.dat" --buckets 127 &&
    "$FIXPACK" pack "$work/single-new.txt" -o "$work/single-new.dat" --buckets 127 &&
    "$FIXPACK" pack "$work/divided-old.txt" -o "$work/divided-old.dat" --divided --buckets 251 &&
    "$FIXPACK" pack "$work/divided-new.txt" -o "$work/divided-new.dat" --divided --buckets 251
  } >"$work/log" 2>&1 || { cat "$work/log" >&2; rm -rf "$work"; return 1; }
  cp "$work/single-old.dat" "$folder/joseki.dat"
  cp "$work/divided-old.dat" "$folder/josekid.dat"
  printf '%s 1.0\r\n' "$name" >"$folder/readme.txt"
  printf '[view]\r\nboard=classic\r\n' >"$folder/bantoki.ini"
  printf '%s 1.1\r\nfixed the clock\r\n' "$name" >"$work/readme.txt"
  printf '[view]\r\nboard=classic\r\nhighlight=on\r\n' >"$work/bantoki.ini"
  printf 'voice data\0\1\2\3' >"$work/voice.dat"
  cat >"$work/manifest" <<'EOF'
book    joseki.old  joseki.dat  single-old.dat  single-new.dat
divided josekid.old josekid.dat divided-old.dat divided-new.dat
file    readme.old  readme.txt  readme.txt
file    bantoki.bak bantoki.ini bantoki.ini
file    voice.old   voice.dat   voice.dat
EOF
  if [ "$trail5c" = 1 ]; then
    printf '%s 1.0\r\n' "$TRAIL5C_FILE" >"$folder/$TRAIL5C_FILE"
    printf '%s 1.1\r\n' "$TRAIL5C_FILE" >"$work/list.txt"
    # Names beyond ASCII go into the manifest in code page 932.
    printf 'file    %s %s list.txt\n' "$TRAIL5C_KEPT" "$TRAIL5C_FILE" | iconv -f UTF-8 -t CP932 \
      >>"$work/manifest"
  fi
  "$FIXPACK" build "$work/manifest" -o "$data" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; rm -rf "$work"; return 1; }
  rm -rf "$work"
}

# What fixpack apply makes of a copy of `before` with the same data file.
# fixpack takes the package's names as they are, code page 932 bytes, where
# Wine spells them in UTF-8: the copy's names are spelled in code page 932
# for the apply and in UTF-8 again afterwards.
reference_apply() {  # before data-file expected
  rm -rf "$3"
  cp -r "$1" "$3"
  respell "$3" UTF-8 CP932 || return 1
  "$FIXPACK" apply "$2" "$3" >/dev/null || fail "fixpack apply failed on $2" || return 1
  respell "$3" CP932 UTF-8
}

# Renames the files of a folder whose names are not ASCII from one encoding
# to the other.
respell() {  # folder from to
  local file name
  for file in "$1"/*; do
    name=${file##*/}
    LC_ALL=C grep -q '[^ -~]' <<<"$name" || continue
    mv "$file" "$1/$(printf %s "$name" | iconv -f "$2" -t "$3")" || return 1
  done
}

# Spoils a data file: its zlib stream loses its tail.
damage() {  # data-file
  local size
  size=$(stat -c %s "$1")
  truncate -s $((size - 6)) "$1"
}
