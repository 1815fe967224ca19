#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end: the real program, started as a script or a desktop entry starts
# it (--port COM19 --open), on a private Xvfb display and driven with xdotool,
# against orvale-board-sim linked at /dev/COM19 (COM1 is left to the demo). The window is judged by its pixels
# and by the command it sends.
# Exit status: 0 passed, 1 failed, 77 skipped.   run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM
set -euo pipefail
QV=${1:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM} SIM=${2:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM}
LINK=/dev/COM19
# shellcheck source=scripts/xwindow.sh
source "$(dirname "$0")/../../scripts/xwindow.sh"
# Positions in the window, beside those the scripts share (inside their
# widgets on both Qt versions, at 96 dpi).
SEND_BUTTON=(752 312) ID_BOX=(605 250) RATE_BOX=(605 314)

fail() { echo "FAIL: $*"; tail -n 20 "$tmp/sim.err" "$tmp/qv.log" 2>/dev/null; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to make $LINK"; exit 77; }
for tool in Xvfb xdotool import flock; do command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }; done

# Runs from other build trees take turns on the link; the lock file stays.
exec 9>>/tmp/orvale-e2e-COM19.lock
flock -w 20 9 || fail "another end-to-end run held $LINK for 20 s"
[ ! -e "$LINK" ] || fail "$LINK is in use: $(ls -l "$LINK")"

tmp=$(mktemp -d /tmp/orvale-e2e.XXXXXX)
xvfb_pid='' sim_pid='' qv_pid=''
cleanup() {
    local status=$?
    orvale_stop "$qv_pid"; orvale_stop "$sim_pid"; orvale_stop "$xvfb_pid"
    # Only a stale link to our own line goes; the simulator removes its own.
    [ ! -L "$LINK" ] || [ "$(readlink "$LINK")" != "${pty:-}" ] || rm -f "$LINK"
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
deadline=$((SECONDS + 60))
wait_for() {  # seconds command...: until the command succeeds
    local until=$((SECONDS + $1)) && shift
    until "$@"; do
        [ "$SECONDS" -lt "$until" ] && [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

mkfifo "$tmp/display" "$tmp/sim.out"
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 9>&- &
xvfb_pid=$!
read -r -t 20 display_number <"$tmp/display" || fail "Xvfb did not start"
export DISPLAY=":$display_number"

"$SIM" --link "$LINK" --log-reports --seed 19 >"$tmp/sim.out" 2>"$tmp/sim.err" 9>&- &
sim_pid=$!
read -r -t 20 pty <"$tmp/sim.out" || fail "the simulator gave no line"
[ "$(readlink "$LINK")" = "$pty" ] || fail "$LINK does not link to $pty"

mkdir "$tmp/Documents"
HOME=$tmp XDG_CONFIG_HOME=$tmp/.config QT_QPA_PLATFORM=xcb "$QV" --port COM19 --open >"$tmp/qv.log" 2>&1 9>&- &
qv_pid=$!
# The start-up routine shows the window under its full title.
wid=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$qv_pid" --name '^ Orvale QV1\.0  $' | head -n 1) || fail "no window"
size=$(xdotool getwindowgeometry "$wid" | sed -n 's/^ *Geometry: //p')
orvale_window_size_known "$size" || fail "the window is $size, not $ORVALE_WINDOW_SIZE or $ORVALE_WINDOW_SIZE_QT6"

region() { import -window "$wid" -crop "${3}x${4}+${1}+${2}" +repage rgb:- 2>/dev/null | md5sum; }
differs() { [ "$(region "${@:2}")" != "$1" ]; }
click() { timeout 10 xdotool mousemove --window "$wid" "$1" "$2" click 1; }
popups() { [ "$(xdotool search --onlyvisible --pid "$qv_pid" 2>/dev/null | wc -l)" -eq "$1" ]; }
choose() {  # x y index: the entry index places below the first, by keys
    local keys=(Home) i
    for ((i = 0; i < $3; i++)); do keys+=(Down); done
    click "$1" "$2"
    wait_for 10 popups 2 || fail "the list at $1,$2 did not open"
    timeout 10 xdotool key --delay 30 "${keys[@]}" Return
    wait_for 10 popups 1 || fail "the list at $1,$2 did not close"
}

# The value's noise moves its last digits in every report: a display that
# follows the reports keeps showing new pixels.
for _ in 1 2 3; do
    lcd_seen=$(region "${ORVALE_LCD_REGION[@]}")
    wait_for 10 differs "$lcd_seen" "${ORVALE_LCD_REGION[@]}" || fail "the display does not follow the reports"
done

choose "${ID_BOX[@]}" 3    # A3
choose "${RATE_BOX[@]}" 2  # 62 Sa/s, so the recording below fills quickly; the rest as the form starts
click "${SEND_BUTTON[@]}"
has_command() { grep -q '^command ' "$tmp/sim.err"; }
wait_for 20 has_command || fail "the simulator received no command after 参数生效"
line=$(grep -m 1 '^command ' "$tmp/sim.err")
[[ "$line" == *"applied: id 0xA3 sa 2 fil 0 ch 0" ]] || fail "wrong command: $line"
[ "$(grep -c -e '^command ' -e '^ignored ' "$tmp/sim.err")" -eq 1 ] || fail "one click sent more than one frame"
echo "PASS: one command frame arrived: ${line#command }"

# Ctrl+R asks for a file and proposes orvale-<time>.csv in the documents
# folder, here $tmp/Documents; Return takes it. Nothing is typed into the
# dialog: under load its completer can swallow typed keys.
click "${ORVALE_LCD_REGION[@]:0:2}"
timeout 10 xdotool key ctrl+r
dialog_shown() { xdotool search --onlyvisible --name '^开始记录$' >/dev/null 2>&1; }
wait_for 10 dialog_shown || fail "Ctrl+R opened no file dialog"
for _ in 1 2 3 4 5; do
    dialog_shown || break
    dialog=$(xdotool search --onlyvisible --name '^开始记录$' | head -n 1)
    timeout 10 xdotool windowfocus --sync "$dialog" key Return 2>/dev/null || true
    sleep 1
done
csv_rows() {
    csv=$(compgen -G "$tmp/Documents/orvale-[0-9]*-[0-9]*.csv" | head -n 1) && [ "$(wc -l <"$csv")" -gt 20 ]
}
wait_for 20 csv_rows || fail "no recording of more than 20 rows under the proposed name in $tmp/Documents"
sleep 1.2  # one more of the flushes each second: every row checked below is whole
[ "$(head -n 1 "$csv")" = "utc_time,seconds,value_v,device_id,channel,sample_rate,filter" ] || fail "CSV header"
row_re='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z,[0-9]+\.[0-9]{3},[0-9]+\.[0-9]{8},0xA3,CH1,62 Sa/s,No filtering$'
bad_row=$(tail -n +2 "$csv" | grep -v -E -m 1 "$row_re" || true)
[ -z "$bad_row" ] || fail "a CSV row is not as the window shows its report: $bad_row"
tail -n +2 "$csv" | cut -d, -f2 | sort -c -n || fail "the CSV's seconds decrease"
# The values are the board's valid reports, each once, in order.
tail -n +2 "$csv" | cut -d, -f3 >"$tmp/csv.values"
grep '^report ' "$tmp/sim.err" | grep -v 'corrupted$' | while read -r -a r; do
    v=$((16#${r[12]}${r[11]}${r[10]}${r[9]}))
    printf '%d.%08d\n' $((v / 100000000)) $((v % 100000000))
done >"$tmp/sim.values"
# A few microvolts of noise repeat a value now and then, so the recording may
# start at any report that holds its first value.
rows=$(wc -l <"$tmp/csv.values") matched=no
for first in $(grep -n -x -F "$(head -n 1 "$tmp/csv.values")" "$tmp/sim.values" | cut -d: -f1); do
    sed -n "$first,$((first + rows - 1))p" "$tmp/sim.values" | cmp -s - "$tmp/csv.values" && { matched=yes; break; }
done
[ "$matched" = yes ] || fail "the recorded values are not the board's reports, each once, in order"
echo "PASS: recorded $(wc -l <"$tmp/csv.values") rows, each a report of the board, in order"
click "${ORVALE_LCD_REGION[@]:0:2}"
timeout 10 xdotool key ctrl+t
wait_for 10 popups 2 || fail "Ctrl+T showed no trend window"

echo "PASS: end to end: port opened by the window's options, reports shown, settings applied"
