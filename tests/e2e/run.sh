#!/usr/bin/env bash
# End-to-end scenarios of the Win32 updater under Wine on a private X server:
# real App Paths entries (wine reg add), real update data files beside a copy
# of the program, real install folders; the dialog is read back and driven
# by the driver (tests/e2e/driver.cpp) and, for some steps, by real mouse
# clicks and key presses (xdotool). Each scenario runs for the 64-bit and
# for the 32-bit program, each with the driver of its own build; screenshots
# of every prompt go to out/e2e/ARCH/screenshots.
#
#   tests/e2e/run.sh [--arch x86_64|i686]... [SCENARIO...]
#       both programs when no --arch is given, all scenarios when none is named
#
# Needs the cross builds (fixmodule.exe, e2e_driver.exe) of the programs
# run and the native build (fixpack); see lib.sh for the places.
set -uo pipefail
REPO=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/e2e/lib.sh
source "$REPO/tests/e2e/lib.sh"
# shellcheck source=tests/e2e/products.sh
source "$REPO/tests/e2e/products.sh"
# shellcheck source=tests/e2e/files_in_use.sh
source "$REPO/tests/e2e/files_in_use.sh"

# The texts the updater shows, as a Japanese Windows shows them.
GREETING='本修正モジュールを実行する前に、盤燈や他のアプリケーションが終了していることを確認してください。よろしければ、ＯＫボタンを押してください。'
UPDATING='更新しています。長い場合で１分程度はかかりますので、しばらくお待ちください…'
SUCCEEDED='正常に更新されました'
FAILED='更新に失敗しました'
DECLINED='更新を中断しました'
# Status row 4, then the system's own text for "file not found" (error 2).
NOT_REGISTERED=$'盤燈アプリケーションが見つかりません。\r\n手動でインストール先を指定してください\r\nError:{syserr:2}'
# The Open dialog's one filter for row 1: the product name and "executable".
OPEN_FILTER='盤燈 青の巻実行ファイル'
question() { printf '%sを %s にて見つけました。更新しますか？' "$1" "$2"; }

SHOTS=
RUNS=
SCENARIO=
SHOT_COUNT=0
REGISTERED=()

fail() { log "  FAILED: $*"; return 1; }

# Waits for a prompt, checks its buttons and keeps a screenshot of it.
expect() {  # text ok cancel shot-name [driver options...]
  local text=$1 ok=$2 cancel=$3 name=$4 out
  shift 4
  # A driver that ended without a word did not get to look (Wine, with its
  # messages silenced, can lose a starting process); it looks once more,
  # without pressing again.
  local again=() skip=0 a
  for a in "$@"; do
    if [ "$skip" = 1 ]; then skip=0; elif [ "$a" = --press ]; then skip=1; else again+=("$a"); fi
  done
  out=$(drv wait --text "$text" --ok "$ok" --cancel "$cancel" "$@") ||
    { [ -z "$out" ] && log "  the driver ended silently; looking again" &&
      out=$(drv wait --text "$text" --ok "$ok" --cancel "$cancel" "${again[@]}"); } ||
    fail "expected \"${text//$'\r\n'/\\r\\n}\" ok=$ok cancel=$cancel; $out" || return 1
  LAST_STATE=$out
  SHOT_COUNT=$((SHOT_COUNT + 1))
  snap "$SHOTS/$SCENARIO/$(printf %02d "$SHOT_COUNT")-$name.png"
}

press() { local out; out=$(drv press "$1") || fail "press $1: $out"; }

expect_exit() {  # code
  local code
  code=$(updater_exit 20) || fail "the updater did not end" || return 1
  [ "$code" = "$1" ] || fail "exit code $code, expected $1"
}

# The dialog goes away with no other text shown after the last one.
expect_end() {  # last-text
  local out
  out=$(drv gone --none-but "$1") || fail "$out"
}

same_tree() {  # actual expected what
  diff -r "$1" "$2" >/dev/null || { diff -r "$1" "$2" >&2; fail "$3"; }
}

# A fresh folder for the scenario, with no App Paths entries left over.
begin() {  # name
  SCENARIO=$1
  SHOT_COUNT=0
  rm -rf "${RUNS:?}/$1" "${SHOTS:?}/$1"
  mkdir -p "$RUNS/$1/updater" "$SHOTS/$1"
  local exe
  for exe in "${REGISTERED[@]}"; do register "$exe"; done
  REGISTERED=()
  DIR=$RUNS/$1
}

register_product() {  # exe-name windows-folder
  register "$1" "$2"
  REGISTERED+=("$1")
}

# --- scenarios

scenario_no_data() {
  begin no-data
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  click ok || return 1
  expect_end "$GREETING" && expect_exit 0
}

# Only row 3's data file: rows 1, 2 and 4 are passed over without a word;
# the files come out exactly as fixpack apply makes them.
scenario_only_updc() {
  begin only-updc
  make_product "$DIR/C" "$DIR/updater/updc.dat" large
  cp -r "$DIR/C" "$DIR/C.before"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$(question '盤燈 白の巻' "$(winpath "$DIR/C")")" 1 1 question || return 1
  # Pressed by the driver that then watches, so that the updating state
  # cannot pass before anyone looks.
  expect "$SUCCEEDED" 1 0 succeeded --press ok --via "$UPDATING" || return 1
  log "  $LAST_STATE"
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  reference_apply "$DIR/C.before" "$DIR/updater/updc.dat" "$DIR/C.expected" || return 1
  same_tree "$DIR/C" "$DIR/C.expected" "the updated folder differs from fixpack apply's"
}

# Cancel on the question of row 2: nothing changes, row 3 is never visited.
scenario_cancel() {
  begin cancel
  make_product "$DIR/B" "$DIR/updater/updb.dat"
  make_product "$DIR/C" "$DIR/updater/updc.dat"
  cp -r "$DIR/B" "$DIR/B.before"
  cp -r "$DIR/C" "$DIR/C.before"
  register_product BantokiB.exe "$(winpath "$DIR/B")\\"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$(question '盤燈 赤の巻' "$(winpath "$DIR/B")\\")" 1 1 question || return 1
  click cancel || return 1
  expect "$DECLINED" 1 0 declined || return 1
  press ok || return 1
  expect_end "$DECLINED" && expect_exit 0 || return 1
  same_tree "$DIR/B" "$DIR/B.before" "the declined product changed" || return 1
  same_tree "$DIR/C" "$DIR/C.before" "a product after the declined one changed"
}

# The close box: refused (a beep) while an acknowledgement waits, Cancel
# while the question waits.
scenario_close_box() {
  begin close-box
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  cp -r "$DIR/A" "$DIR/A.before"
  register_product BantokiA.exe "$(winpath "$DIR/A")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  click close || return 1
  expect "$GREETING" 1 0 greeting-after-close --steady 800 || return 1
  click ok || return 1
  expect "$(question '盤燈 青の巻' "$(winpath "$DIR/A")")" 1 1 question || return 1
  click close || return 1
  expect "$DECLINED" 1 0 declined || return 1
  click ok || return 1
  expect_end "$DECLINED" && expect_exit 0 || return 1
  same_tree "$DIR/A" "$DIR/A.before" "the product changed after a close"
}

# The close box while a package is applied: refused, so the update goes on
# to its report, which still waits for OK.
scenario_close_while_applying() {
  begin close-while-applying
  make_product "$DIR/C" "$DIR/updater/updc.dat" large
  cp -r "$DIR/C" "$DIR/C.before"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$(question '盤燈 白の巻' "$(winpath "$DIR/C")")" 1 1 question || return 1
  expect "$SUCCEEDED" 1 0 succeeded --press ok --via "$UPDATING" --close-via 1 --steady 800 ||
    return 1
  log "  closed while updating; $LAST_STATE"
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  reference_apply "$DIR/C.before" "$DIR/updater/updc.dat" "$DIR/C.expected" || return 1
  same_tree "$DIR/C" "$DIR/C.expected" "the folder differs from fixpack apply's after a close"
}

# Keys: the message loop passes nothing through the dialog manager, so
# Enter, Esc and Tab do nothing; the space bar presses the button that holds
# the focus, which starts on OK.
scenario_keys() {
  begin keys
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  cp -r "$DIR/A" "$DIR/A.before"
  register_product BantokiA.exe "$(winpath "$DIR/A")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting --focus ok || return 1
  keys Return Escape Tab || return 1
  expect "$GREETING" 1 0 greeting-after-keys --focus ok --steady 800 || return 1
  keys space || return 1
  local asked
  asked=$(question '盤燈 青の巻' "$(winpath "$DIR/A")")
  expect "$asked" 1 1 question --focus ok || return 1
  # With a dialog manager Esc would be Cancel, Enter OK, and Tab would take
  # the focus to Cancel, so that the space bar would decline.
  keys Escape Return Tab || return 1
  expect "$asked" 1 1 question-after-keys --focus ok --steady 800 || return 1
  keys space || return 1
  expect "$SUCCEEDED" 1 0 succeeded || return 1
  keys Return Escape Tab || return 1
  expect "$SUCCEEDED" 1 0 succeeded-after-keys --steady 800 || return 1
  click ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  reference_apply "$DIR/A.before" "$DIR/updater/upda.dat" "$DIR/A.expected" || return 1
  same_tree "$DIR/A" "$DIR/A.expected" "the product differs from fixpack apply's"
}

# Row 1 not registered: the reason with Wine's text for the error, the Open
# dialog, a cancel, the not-found text; row 2 is never visited. The close
# box of the update dialog is refused while the Open dialog is open.
scenario_not_registered() {
  begin not-registered
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  make_product "$DIR/B" "$DIR/updater/updb.dat"
  cp -r "$DIR/B" "$DIR/B.before"
  register_product BantokiB.exe "$(winpath "$DIR/B")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$NOT_REGISTERED" 1 0 not-registered || return 1
  press ok || return 1
  picker_shown open-dialog || return 1
  drv close >/dev/null || fail "cannot close the update dialog" || return 1
  expect "" 1 0 closed-while-picking --steady 800 || return 1
  picker_answer --cancel || return 1
  expect '盤燈 青の巻が見つかりませんでした' 1 0 not-found || return 1
  press ok || return 1
  expect_end '盤燈 青の巻が見つかりませんでした' && expect_exit 0 || return 1
  same_tree "$DIR/B" "$DIR/B.before" "a product after the missing one changed"
}

# The executable picked in the Open dialog: a wrong name first (the reason
# again, the dialog again), then the product's own in lower case.
scenario_picked() {
  begin picked
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  echo "not the product" >"$DIR/A/other.exe"
  echo "the product" >"$DIR/A/bantokia.exe"
  cp -r "$DIR/A" "$DIR/A.before"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$NOT_REGISTERED" 1 0 not-registered || return 1
  press ok || return 1
  picker open-dialog --pick "$(winpath "$DIR/A/other.exe")" || return 1
  expect "$NOT_REGISTERED" 1 0 not-registered-again || return 1
  press ok || return 1
  picker open-dialog-again --pick "$(winpath "$DIR/A/bantokia.exe")" || return 1
  expect "$(question '盤燈 青の巻' "$(winpath "$DIR/A")\\")" 1 1 question || return 1
  press ok || return 1
  expect "$SUCCEEDED" 1 0 succeeded || return 1
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  reference_apply "$DIR/A.before" "$DIR/updater/upda.dat" "$DIR/A.expected" || return 1
  same_tree "$DIR/A" "$DIR/A.expected" "the picked product differs from fixpack apply's"
}

# A damaged data file for row 1: the failure text, its folder untouched, and
# row 2 still updated.
scenario_damaged() {
  begin damaged
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  make_product "$DIR/B" "$DIR/updater/updb.dat"
  damage "$DIR/updater/upda.dat"
  cp -r "$DIR/A" "$DIR/A.before"
  cp -r "$DIR/B" "$DIR/B.before"
  register_product BantokiA.exe "$(winpath "$DIR/A")"
  register_product BantokiB.exe "$(winpath "$DIR/B")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$(question '盤燈 青の巻' "$(winpath "$DIR/A")")" 1 1 question-a || return 1
  press ok || return 1
  expect "$FAILED" 1 0 failed || return 1
  press ok || return 1
  expect "$(question '盤燈 赤の巻' "$(winpath "$DIR/B")")" 1 1 question-b || return 1
  press ok || return 1
  expect "$SUCCEEDED" 1 0 succeeded || return 1
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  same_tree "$DIR/A" "$DIR/A.before" "the damaged package changed its folder" || return 1
  reference_apply "$DIR/B.before" "$DIR/updater/updb.dat" "$DIR/B.expected" || return 1
  same_tree "$DIR/B" "$DIR/B.expected" "the product after the damaged one differs"
}

# An install folder whose name ends in ソ (code page 932 bytes 0x83 0x5C),
# registered without a final backslash, holding a file whose name ends in
# 表 (its last byte 0x5C too), written afresh and kept under a name that
# ends in 表 as well.
scenario_so_folder() {
  begin so-folder
  make_product "$DIR/盤燈ソ" "$DIR/updater/updd.dat" trail5c
  cp -r "$DIR/盤燈ソ" "$DIR/before"
  register_product BantokiD.exe "$(winpath "$DIR/盤燈ソ")"
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 greeting || return 1
  press ok || return 1
  expect "$(question '盤燈 黒の巻' "$(winpath "$DIR/盤燈ソ")")" 1 1 question || return 1
  press ok || return 1
  expect "$SUCCEEDED" 1 0 succeeded || return 1
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0 || return 1
  cmp -s "$DIR/before/$TRAIL5C_FILE" "$DIR/盤燈ソ/$TRAIL5C_KEPT" ||
    fail "$TRAIL5C_FILE was not kept under $TRAIL5C_KEPT" || return 1
  ! cmp -s "$DIR/before/$TRAIL5C_FILE" "$DIR/盤燈ソ/$TRAIL5C_FILE" ||
    fail "$TRAIL5C_FILE was not written afresh" || return 1
  reference_apply "$DIR/before" "$DIR/updater/updd.dat" "$DIR/expected" || return 1
  same_tree "$DIR/盤燈ソ" "$DIR/expected" "the folder ending in ソ was not updated right"
}

# A product file held open without sharing by another process: the failure
# is reported and nothing is lost.
scenario_held_file() {
  begin held-file
  make_product "$DIR/C" "$DIR/updater/updc.dat"
  cp -r "$DIR/C" "$DIR/C.before"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  hold_start "$DIR/C/$HELD_FILE" || return 1
  updater_start "$DIR/updater"
  local result=0
  {
    expect "$GREETING" 1 0 greeting &&
    press ok &&
    expect "$(question '盤燈 白の巻' "$(winpath "$DIR/C")")" 1 1 question &&
    press ok &&
    expect "$FAILED" 1 0 failed &&
    press ok &&
    expect_end "$FAILED" && expect_exit 0
  } || result=1
  hold_stop
  [ "$result" = 0 ] || return 1
  same_tree "$DIR/C" "$DIR/C.before" "a file was lost or changed while held"
}

# Product files with the read-only attribute, as copied from a CD-ROM: the
# single book and the readme. Each is kept under its old name, still
# read-only, and written afresh as an ordinary file. A second run, with the
# new files made read-only too and their old names taken, replaces them and
# leaves the kept files as they were. Both runs end as fixpack apply's do.
scenario_read_only() {
  begin read-only
  make_product "$DIR/A" "$DIR/updater/upda.dat"
  attrib +r "$DIR/A/joseki.dat" "$DIR/A/readme.txt" || return 1
  cp -a "$DIR/A" "$DIR/before"
  register_product BantokiA.exe "$(winpath "$DIR/A")"
  update_a read-only-first || return 1
  cmp -s "$DIR/before/joseki.dat" "$DIR/A/joseki.old" && cmp -s "$DIR/before/readme.txt" "$DIR/A/readme.old" ||
    fail "the read-only files were not kept under their old names" || return 1
  only_read_only "$DIR/A" joseki.old readme.old || return 1
  reference_apply "$DIR/before" "$DIR/updater/upda.dat" "$DIR/expected" || return 1
  same_tree "$DIR/A" "$DIR/expected" "the first run differs from fixpack apply's" || return 1

  attrib +r "$DIR/A/joseki.dat" "$DIR/A/readme.txt" || return 1
  rm -rf "$DIR/before" && cp -a "$DIR/A" "$DIR/before"
  update_a read-only-second || return 1
  cmp -s "$DIR/before/joseki.old" "$DIR/A/joseki.old" && cmp -s "$DIR/before/readme.old" "$DIR/A/readme.old" ||
    fail "the second run changed the kept files" || return 1
  only_read_only "$DIR/A" joseki.old readme.old || return 1
  reference_apply "$DIR/before" "$DIR/updater/upda.dat" "$DIR/expected" || return 1
  same_tree "$DIR/A" "$DIR/expected" "the second run differs from fixpack apply's"
}

# One run of the updater that updates product A.
update_a() {  # shot-prefix
  updater_start "$DIR/updater"
  expect "$GREETING" 1 0 "$1-greeting" || return 1
  press ok || return 1
  expect "$(question '盤燈 青の巻' "$(winpath "$DIR/A")")" 1 1 "$1-question" || return 1
  press ok || return 1
  expect "$SUCCEEDED" 1 0 "$1-succeeded" || return 1
  press ok || return 1
  expect_end "$SUCCEEDED" && expect_exit 0
}

# Sets the read-only attribute through Wine's own attrib, as a user would.
attrib() {  # +r|-r file...
  local flag=$1 file
  shift
  for file in "$@"; do
    wine cmd /c attrib "$flag" "$(winpath "$file")" >/dev/null 2>&1 || fail "attrib $flag $file" || return 1
  done
}

# Exactly the named files of the folder are read-only. Wine gives a file the
# read-only attribute when no one may write it, and takes all its write
# permissions away when the attribute is set.
only_read_only() {  # folder name...
  local want got
  want=$(printf '%s\n' "${@:2}" | sort)
  got=$(cd "$1" && find . -maxdepth 1 -type f ! -perm /222 -printf '%f\n' | sort)
  [ "$got" = "$want" ] || fail "read-only in $1: $(echo $got), expected $(echo $want)"
}

# Another process keeps a file open without any sharing until hold_stop.
HOLDER=
hold_start() {  # file
  touch "$DIR/holding"
  drv hold "$(winpath "$1")" "$(winpath "$DIR/holding")" >"$DIR/hold.log" 2>&1 &
  HOLDER=$!
  local i
  for i in $(seq 100); do grep -qs held "$DIR/hold.log" && return 0; sleep 0.1; done
  hold_stop
  fail "cannot hold $1: $(cat "$DIR/hold.log")"
}
hold_stop() {
  rm -f "$DIR/holding"
  [ -z "$HOLDER" ] || wait "$HOLDER"
  HOLDER=
}

# Waits for the Open dialog, checks its one filter, keeps a screenshot, then
# picks a file or cancels.
# A data file held open by another program without read sharing counts as
# absent: after the greeting the program ends without another word.
scenario_held_data() {
  begin held-data
  make_product "$DIR/C" "$DIR/updater/updc.dat"
  cp -r "$DIR/C" "$DIR/C.before"
  register_product BantokiC.exe "$(winpath "$DIR/C")"
  hold_start "$DIR/updater/updc.dat" || return 1
  updater_start "$DIR/updater"
  local result=0
  { expect "$GREETING" 1 0 greeting && press ok && expect_end "$GREETING" && expect_exit 0; } ||
    result=1
  hold_stop
  [ "$result" = 0 ] || return 1
  same_tree "$DIR/C" "$DIR/C.before" "a product changed though its data file was held"
}

# A copy of the program whose dialog template names a control class that
# does not exist cannot make its window:
# the message box, then exit code -1 (255 as Wine hands it on).
scenario_no_template() {
  begin no-template
  cp "$UPDATER_EXE" "$DIR/updater/fixmodule.exe"
  local out
  out=$(drv break-dialog "$(winpath "$DIR/updater/fixmodule.exe")") || fail "$out" || return 1
  updater_start "$DIR/updater" as-is
  out=$(drv msgbox --caption '致命的なエラー' --text 'ウィンドウの作成に失敗しました') ||
    fail "$out" || return 1
  SHOT_COUNT=$((SHOT_COUNT + 1))
  snap "$SHOTS/$SCENARIO/01-message-box.png"
  out=$(drv msgbox --caption '致命的なエラー' --press ok) || fail "$out" || return 1
  expect_exit 255
}

picker() {  # shot-name --pick PATH | --cancel
  picker_shown "$1" || return 1
  shift
  picker_answer "$@"
}

# Waits for the Open dialog, checks its one filter and keeps a screenshot
# once it has painted.
picker_shown() {  # shot-name
  local out
  out=$(drv picker --filter "$OPEN_FILTER") || fail "Open dialog: $out" || return 1
  SHOT_COUNT=$((SHOT_COUNT + 1))
  snap_steady "$SHOTS/$SCENARIO/$(printf %02d "$SHOT_COUNT")-$1.png"
}

picker_answer() {  # --pick PATH | --cancel
  local out
  out=$(drv picker "$@") || fail "Open dialog: $out"
}

# What a passing scenario must also have shown: the program ran (the
# driver saw its greeting, or its own message box where it cannot make its
# dialog) and every screenshot held a window. Every driver step's status is
# checked where it runs, and a driver that never started fails its step.
proven() {  # scenario
  grep -q -F "text=\"$GREETING\"" "$DRIVER_TRANSCRIPT" ||
    grep -q '^message box caption=' "$DRIVER_TRANSCRIPT" ||
    fail "the driver never saw the program's greeting ($1); see $DRIVER_TRANSCRIPT" || return 1
  [ "$SHOT_FAULT" = 0 ] || fail "a screenshot failed or was empty"
}

ALL=(no_data only_updc cancel close_box close_while_applying keys not_registered picked
     damaged so_folder held_file held_data read_only no_template scanned_file running_product
     long_folder)

main() {
  local arches=() names=() arch
  while [ $# -gt 0 ]; do
    case $1 in
      --arch)
        case ${2:-} in x86_64|i686) arches+=("$2") ;; *) log "--arch x86_64 or i686"; exit 2 ;; esac
        shift 2 ;;
      *) names+=("$1"); shift ;;
    esac
  done
  [ ${#arches[@]} -gt 0 ] || arches=(x86_64 i686)
  [ ${#names[@]} -gt 0 ] || names=("${ALL[@]}")
  for arch in "${arches[@]}"; do
    use_arch "$arch"
    [ -x "$UPDATER_EXE" ] && [ -f "$DRIVER_EXE" ] ||
      { log "build out/$arch first (fixmodule.exe, e2e_driver.exe)"; exit 2; }
  done
  [ -x "$FIXPACK" ] || { log "build out/native first (fixpack)"; exit 2; }
  local ground
  ground_check "${arches[@]}" || { ground=$?; log "no scenario run"; exit "$ground"; }
  mkdir -p "$E2E_OUT"
  display_start || exit 1
  trap 'updater_kill; wine_stop; display_stop' EXIT
  trap 'exit 130' INT TERM HUP
  prefix_setup || exit 1
  prefix_check "${arches[@]}" || { ground=$?; log "no scenario run"; exit "$ground"; }
  # A run that was cut short may have left updaters in the prefix; the
  # driver would find their dialogs.
  wine_stop
  wine_start
  # Entries left by the demo or by a run cut short.
  REGISTERED=(BantokiA.exe BantokiB.exe BantokiC.exe BantokiD.exe)

  local summary=() all_failed=0 name start begin_arch failed
  for arch in "${arches[@]}"; do
    use_arch "$arch"
    SHOTS=$E2E_OUT/$arch/screenshots
    RUNS=$E2E_OUT/$arch/run
    rm -rf "${SHOTS:?}"
    log "== the $arch program"
    failed=()
    begin_arch=$SECONDS
    mkdir -p "$E2E_OUT/$arch/driver"
    for name in "${names[@]}"; do
      start=$SECONDS
      SHOT_FAULT=0
      DRIVER_TRANSCRIPT=$E2E_OUT/$arch/driver/$name.log
      : >"$DRIVER_TRANSCRIPT"
      if "scenario_$name" && proven "$name"; then
        log "ok   $name ($((SECONDS - start)) s)"
      else
        log "FAIL $name ($((SECONDS - start)) s)"
        failed+=("$name")
        updater_kill
      fi
    done
    summary+=("$arch: ${#names[@]} scenarios, ${#failed[@]} failed${failed[*]:+ (${failed[*]})}, $((SECONDS - begin_arch)) s; screenshots in $SHOTS")
    all_failed=$((all_failed + ${#failed[@]}))
  done
  for exe in "${REGISTERED[@]}"; do register "$exe"; done
  for name in "${summary[@]}"; do log "== $name"; done
  [ "$all_failed" -eq 0 ]
}

main "$@"
