# Writes the text forms (`fixpack pack`) of an old book and of its next
# release, for demos and tests:
#   awk -v seed=N -v positions=N -v buckets=N -v old=TEXT -v new=TEXT \
#       -f scripts/demo_book_texts.awk
# Each position holds 2 to 5 moves (code from*128+to, aux a weight, data a
# count), sorted by code as the updater stores them. The next release
# overwrites a move's aux and data, deletes a move, puts a new move, drops
# whole positions and adds new ones; some positions stay as they were. The
# same arguments always give the same texts.

function rnd(n) {
  seed = (seed * 48271) % 2147483647
  return seed % n
}
# A key word a diff can name: at least 64, never 0xFFFFFFFF.
function word(   hi, lo) {
  hi = rnd(65535)
  lo = rnd(65536)
  if (hi == 0 && lo < 64) lo += 64
  return sprintf("%04x%04x", hi, lo)
}
function move_code() { return (1 + rnd(81)) * 128 + 1 + rnd(81) }
function has_code(list, count, code,   j) {
  for (j = 1; j <= count; ++j) if (list[j] == code) return 1
  return 0
}
# Fills codes[1..count] with distinct codes in ascending order.
function fill_codes(codes, count,   j, k, code, t) {
  for (j = 1; j <= count; ++j) {
    do code = move_code(); while (has_code(codes, j - 1, code))
    codes[j] = code
  }
  for (j = 2; j <= count; ++j)
    for (k = j; k > 1 && codes[k - 1] > codes[k]; --k) { t = codes[k]; codes[k] = codes[k - 1]; codes[k - 1] = t }
}
function move_text(code, aux, data) { return sprintf(" %04x:%04x:%08x", code, aux, data) }

BEGIN {
  if (seed == "" || positions == "" || buckets == "" || old == "" || new == "") {
    print "usage: awk -v seed=N -v positions=N -v buckets=N -v old=TEXT -v new=TEXT -f demo_book_texts.awk" > "/dev/stderr"
    exit 2
  }
  seed = seed + 1
  printf "buckets %d\n", buckets > old
  printf "buckets %d\n", buckets > new
  for (i = 0; i < positions; ++i) {
    key = word() " " word()
    count = 2 + rnd(4)
    delete codes
    fill_codes(codes, count)
    for (j = 1; j <= count; ++j) { aux[j] = 1 + rnd(200); data[j] = rnd(100000) }
    line = key
    for (j = 1; j <= count; ++j) line = line move_text(codes[j], aux[j], data[j])
    print line > old

    change = i % 6
    if (change == 5) continue                          # the position is dropped
    added = 0
    if (change == 3 || change == 4) {                  # a move is put
      do added = move_code(); while (has_code(codes, count, added))
    }
    line = key
    put = 0
    for (j = 1; j <= count + 1; ++j) {
      if (added && !put && (j > count || added < codes[j])) {
        line = line move_text(added, 1 + rnd(200), rnd(100000))
        put = 1
      }
      if (j > count) break
      if (change == 2 && j == 2) continue              # a move is deleted
      if (change == 1 || (change == 4 && j == 1)) {    # a move is overwritten
        line = line move_text(codes[j], aux[j] + 1, data[j] + 1 + rnd(50))
      } else {
        line = line move_text(codes[j], aux[j], data[j])
      }
    }
    print line > new
  }
  for (i = 0; i < positions / 5; ++i) {               # positions new in this release
    line = word() " " word()
    count = 1 + rnd(3)
    delete codes
    fill_codes(codes, count)
    for (j = 1; j <= count; ++j) line = line move_text(codes[j], 1 + rnd(200), rnd(100000))
    print line > new
  }
}
