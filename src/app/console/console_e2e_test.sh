#!/usr/bin/env bash
# One whole run of the native updater on a terminal (tmux): two products
# with update data files, one registered in the App Paths file and one
# picked by hand after a wrong path; every prompt read back from the screen
# and answered with the keys a user would press; the files checked byte for
# byte afterwards. Then one run without any input.
#   console_e2e_test.sh FIXMOD FIXMOD_DEMO_DATA
set -euo pipefail
fixmod=$1
make_data=$2

work=$(mktemp -d)
session="fixmod-e2e-$$"
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/updater" "$work/blue" "$work/white" "$work/sources"
cp "$fixmod" "$work/updater/fixmod"
printf 'blue readme 1.0\r\n' >"$work/blue/readme.txt"
printf 'white 1.0' >"$work/white/white.ini"
: >"$work/white/BantokiC.exe"
printf 'blue readme 1.1\r\n' >"$work/sources/readme.txt"
printf 'sound' >"$work/sources/voice.dat"
printf 'white 1.1' >"$work/sources/white.ini"
"$make_data" "$work/updater/upda.dat" readme.bak readme.txt "$work/sources/readme.txt" \
  voice.old voice.dat "$work/sources/voice.dat"
"$make_data" "$work/updater/updc.dat" white.bak white.ini "$work/sources/white.ini"
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
check_file "$work/blue/readme.txt" 'blue readme 1.1\r\n'
check_file "$work/blue/readme.bak" 'blue readme 1.0\r\n'
check_file "$work/blue/voice.dat" 'sound'
[ ! -e "$work/blue/voice.old" ] || fail "voice.old was made from nothing"
check_file "$work/white/white.ini" 'white 1.1'
check_file "$work/white/white.bak" 'white 1.0'
# Without any input the run declines every question and acknowledges every
# message, so it ends and changes nothing.
before=$(cat "$work/blue/readme.txt" "$work/blue/readme.bak" | od -An -c)
LANG=C.UTF-8 LC_ALL=C.UTF-8 FIX_APP_PATHS="$work/app-paths" "$work/updater/fixmod" \
  </dev/null >"$work/transcript" 2>&1 || fail "the run without input ended with $?"
grep -qF "盤燈 青の巻を $work/blue にて見つけました。更新しますか？" "$work/transcript" ||
  fail "the run without input did not ask"
grep -qF "更新を中断しました" "$work/transcript" || fail "the run without input did not decline"
[ "$(cat "$work/blue/readme.txt" "$work/blue/readme.bak" | od -An -c)" = "$before" ] ||
  fail "the run without input changed the folder"
echo "the console updater ran end to end"
