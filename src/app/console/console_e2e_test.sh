#!/usr/bin/env bash
# One whole run of the native updater on a terminal (tmux): two products
# with update data files made by fixpack, one registered in the App Paths
# file (a single book and a plain file) and one picked by hand after a wrong
# path (a divided book); every prompt read back from the screen and answered
# with the keys a user would press; the files checked byte for byte
# afterwards. Then one run without any input.
#   console_e2e_test.sh FIXMOD FIXPACK BOOK_TEXTS_AWK
set -euo pipefail
fixmod=$1
fixpack=$2
book_texts=$3

work=$(mktemp -d)
session="fixmod-e2e-$$"
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/updater" "$work/blue" "$work/white" "$work/sources"
cp "$fixmod" "$work/updater/fixmod"
src=$work/sources
awk -v seed=11 -v positions=30 -v buckets=31 -v old="$src/single-old.txt" -v new="$src/single-new.txt" \
  -f "$book_texts"
awk -v seed=12 -v positions=40 -v buckets=5 -v old="$src/divided-old.txt" -v new="$src/divided-new.txt" \
  -f "$book_texts"
for release in old new; do
  "$fixpack" pack "$src/single-$release.txt" -o "$src/single-$release.dat" >/dev/null
  "$fixpack" pack --divided "$src/divided-$release.txt" -o "$src/divided-$release.dat" >/dev/null
done
printf 'blue readme 1.1\r\n' >"$src/readme.txt"
printf 'book joseki.bak joseki.dat single-old.dat single-new.dat\nfile readme.bak readme.txt readme.txt\n' \
  >"$src/upda.txt"
printf 'divided jskdiv.bak jskdiv.dat divided-old.dat divided-new.dat\n' >"$src/updc.txt"
"$fixpack" build "$src/upda.txt" -o "$work/updater/upda.dat" >/dev/null
"$fixpack" build "$src/updc.txt" -o "$work/updater/updc.dat" >/dev/null

cp "$src/single-old.dat" "$work/blue/joseki.dat"
printf 'blue readme 1.0\r\n' >"$work/blue/readme.txt"
cp "$src/divided-old.dat" "$work/white/jskdiv.dat"
: >"$work/white/BantokiC.exe"
printf '# App Paths of the test\nBantokiA.exe=%s\n' "$work/blue" >"$work/app-paths"

fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  tmux capture-pane -p -t "$session" >&2 || true
  exit 1
}
# Waits until the screen shows the text (a fixed string).
expect_screen() {
  for _ in $(seq 1 100); do
    if tmux capture-pane -p -t "$session" | grep -qF -- "$1"; then return 0; fi
    sleep 0.05
  done
  fail "the screen never showed: $1"
}
# The screen with its colours, to tell an enabled button from a disabled one.
expect_buttons() {  # ok-state cancel-state (on/off)
  local screen ok cancel
  screen=$(tmux capture-pane -e -p -t "$session")
  ok=off; cancel=off
  grep -qF $'\e[7m[ OK ]' <<<"$screen" && ok=on
  grep -qF $'\e[7m[ ｷｬﾝｾﾙ ]' <<<"$screen" && cancel=on
  [ "$ok $cancel" = "$1 $2" ] || fail "buttons are OK $ok, Cancel $cancel; expected OK $1, Cancel $2"
}

tmux new-session -d -s "$session" -x 120 -y 30 \
  "env LANG=C.UTF-8 LC_ALL=C.UTF-8 FIX_APP_PATHS='$work/app-paths' '$work/updater/fixmod'; echo \"exit code \$?\"; sleep 60"

expect_screen "本修正モジュールを実行する前に"
expect_buttons on off
tmux send-keys -t "$session" c            # Cancel is disabled: nothing happens
sleep 0.2
expect_screen "本修正モジュールを実行する前に"
tmux send-keys -t "$session" Enter

expect_screen "盤燈 青の巻を $work/blue にて見つけました。更新しますか？"
expect_buttons on on
tmux send-keys -t "$session" Enter
expect_screen "正常に更新されました"
expect_buttons on off
tmux send-keys -t "$session" Enter

# The white product is not registered: the reason, then the Open dialog.
expect_screen "盤燈アプリケーションが見つかりません。"
expect_screen "Error:指定されたファイルが見つかりません。"
tmux send-keys -t "$session" Enter
expect_screen "ファイルの種類: 盤燈 白の巻実行ファイル (BantokiC.exe)"
tmux send-keys -t "$session" "$work/white/nothing.exe" Enter
expect_screen "ファイルが見つかりません。"
tmux send-keys -t "$session" C-u "$work/white/BantokiC.exe" Enter
windows_form=$(tr '/' '\\' <<<"$work/white/")
expect_screen "盤燈 白の巻を $windows_form にて見つけました。更新しますか？"
tmux send-keys -t "$session" Enter
expect_screen "正常に更新されました"
tmux send-keys -t "$session" Enter
expect_screen "exit code 0"

check_file() {  # path expected-bytes
  [ "$(od -An -c "$1")" = "$(printf "$2" | od -An -c)" ] || fail "$1 does not hold the expected bytes"
}
# A book the updater wrote: byte for byte what fixpack packs of its text
# (whose moves are sorted, as the merge sorts them), and its text read back
# is that text.
check_book() {  # path expected-book expected-text
  cmp -s "$1" "$2" || fail "$1 is not $2 byte for byte"
  "$fixpack" verify "$1" >/dev/null || fail "$1 is not sound"
  "$fixpack" dump "$1" -o "$work/dumped.txt" || fail "$1 does not dump"
  cmp -s <(grep -E '^[0-9a-f]{8} ' "$work/dumped.txt" | sort) <(grep -E '^[0-9a-f]{8} ' "$3" | sort) ||
    fail "$1 does not hold the positions of $3"
}
check_book "$work/blue/joseki.dat" "$src/single-new.dat" "$src/single-new.txt"
check_book "$work/blue/joseki.bak" "$src/single-old.dat" "$src/single-old.txt"
check_file "$work/blue/readme.txt" 'blue readme 1.1\r\n'
check_file "$work/blue/readme.bak" 'blue readme 1.0\r\n'
check_book "$work/white/jskdiv.dat" "$src/divided-new.dat" "$src/divided-new.txt"
check_book "$work/white/jskdiv.bak" "$src/divided-old.dat" "$src/divided-old.txt"
# Without any input the run declines every question and acknowledges every
# message, so it ends and changes nothing.
before=$(cat "$work/blue/"* | od -An -c)
LANG=C.UTF-8 LC_ALL=C.UTF-8 FIX_APP_PATHS="$work/app-paths" "$work/updater/fixmod" \
  </dev/null >"$work/transcript" 2>&1 || fail "the run without input ended with $?"
grep -qF "盤燈 青の巻を $work/blue にて見つけました。更新しますか？" "$work/transcript" ||
  fail "the run without input did not ask"
grep -qF "更新を中断しました" "$work/transcript" || fail "the run without input did not decline"
[ "$(cat "$work/blue/"* | od -An -c)" = "$before" ] ||
  fail "the run without input changed the folder"
echo "the console updater ran end to end"
