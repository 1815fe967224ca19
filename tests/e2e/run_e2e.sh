#!/usr/bin/env bash
# End to end: the real program, started as an operator starts it, on a private
# Xvfb display and driven with xdotool, against orvale-board-sim linked at
# /dev/COM19 (COM1 is left to the demo). The window is judged by its pixels
# and by its command, whose echoed bytes it can only know from a decoded report.
# Exit status: 0 passed, 1 failed, 77 skipped.   run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM
set -euo pipefail
QV=${1:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM} SIM=${2:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM}
LINK=/dev/COM19 PORT_INDEX=18
# Positions in the 830x424 window (the form plus menu and status bars).
WINDOW_SIZE=830x424
PORT_BOX=(780 56) OPEN_BUTTON=(749 213) SEND_BUTTON=(749 311)
ID_BOX=(605 246)
LCD_REGION=(20 52 640 130)     # x y width height
LABEL_REGION=(100 235 85 150)  # the five device information values

fail() {
    echo "FAIL: $*"
    [ -z "${tmp:-}" ] || tail -n 20 "$tmp/sim.err" "$tmp/qv.log" 2>/dev/null || true
    exit 1
}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to make $LINK"; exit 77; }
for tool in Xvfb xdotool import flock; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# Runs from other build trees take turns on the link; the lock file stays.
exec 9>>/tmp/orvale-e2e-COM19.lock
flock -w 20 9 || fail "another end-to-end run held $LINK for 20 s"
[ ! -e "$LINK" ] || fail "$LINK is in use: $(ls -l "$LINK")"

tmp=$(mktemp -d /tmp/orvale-e2e.XXXXXX)
xvfb_pid='' sim_pid='' qv_pid=''
stop() { [ -z "$1" ] || { kill "$1" 2>/dev/null; timeout 5 tail --pid="$1" -f /dev/null || kill -9 "$1"; } 2>/dev/null || true; }
cleanup() {
    local status=$?
    stop "$qv_pid"; stop "$sim_pid"; stop "$xvfb_pid"
    # Only a stale link to our own line goes; the simulator removes its own.
    [ ! -L "$LINK" ] || [ "$(readlink "$LINK")" != "${pty:-}" ] || rm -f "$LINK"
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 143' INT TERM
deadline=$((SECONDS + 40))
wait_for() {  # seconds command...: until the command succeeds
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$until" ] && [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

mkfifo "$tmp/display" "$tmp/sim.out"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 9>&- &
xvfb_pid=$!
read -r -t 20 display_number <"$tmp/display" || fail "Xvfb did not start"
export DISPLAY=":$display_number"

"$SIM" --link "$LINK" --log-reports --seed 19 >"$tmp/sim.out" 2>"$tmp/sim.err" 9>&- &
sim_pid=$!
read -r -t 20 pty <"$tmp/sim.out" || fail "the simulator gave no line"
[ "$(readlink "$LINK")" = "$pty" ] || fail "$LINK does not link to $pty"

QT_QPA_PLATFORM=xcb "$QV" >"$tmp/qv.log" 2>&1 9>&- &
qv_pid=$!
# The start-up routine shows the window under its full title.
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^ Orvale QV1\.0  $' | head -n 1) || fail "no window"
size=$(xdotool getwindowgeometry "$wid" | sed -n 's/^ *Geometry: //p')
[ "$size" = "$WINDOW_SIZE" ] || fail "the window is $size, not $WINDOW_SIZE"
echo "PASS: the window is shown on $DISPLAY, the simulator's line $pty is at $LINK"

region() { import -window "$wid" -crop "${3}x${4}+${1}+${2}" +repage rgb:- 2>/dev/null | md5sum; }
differs() { [ "$(region "${@:2}")" != "$1" ]; }
stable() {  # region: its pixels once they come back twice in a row
    local previous='' current
    current=$(region "$@")
    while [ "$current" != "$previous" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the window never stopped redrawing"
        previous=$current
        sleep 0.2
        current=$(region "$@")
    done
    echo "$current"
}
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

lcd_closed=$(stable "${LCD_REGION[@]}")
labels_closed=$(stable "${LABEL_REGION[@]}")
choose "${PORT_BOX[@]}" "$PORT_INDEX"
click "${OPEN_BUTTON[@]}"
wait_for 20 differs "$lcd_closed" "${LCD_REGION[@]}" || fail "the display did not change after opening COM19"
wait_for 10 differs "$labels_closed" "${LABEL_REGION[@]}" || fail "no device information after opening COM19"
lcd_seen=$(region "${LCD_REGION[@]}")  # the value wanders by a few millivolts in every report
wait_for 10 differs "$lcd_seen" "${LCD_REGION[@]}" || fail "the display stands still"
echo "PASS: after opening COM19 the display follows the reports"

choose "${ID_BOX[@]}" 3  # A3; the other settings as the form starts
click "${SEND_BUTTON[@]}"
has_command() { grep -q '^command ' "$tmp/sim.err"; }
wait_for 20 has_command || fail "the simulator received no command after 参数生效"
line=$(grep -m 1 '^command ' "$tmp/sim.err")
[[ "$line" == *"applied: id 0xA3 sa 0 fil 0 ch 0" ]] || fail "wrong command: $line"
read -r -a command <<<"${line#command }"
# Bytes 1-3 and 8-13 echo a valid report sent before.
echoed="${command[*]:1:3} ${command[*]:8:6}"
grep -m 1 -B 100000 '^command ' "$tmp/sim.err" | grep '^report ' | grep -v 'corrupted$' \
    | cut -d' ' -f3-5,10-15 | grep -qx "$echoed" || fail "command bytes ($echoed) echo no report sent"
[ "$(grep -c -e '^command ' -e '^ignored ' "$tmp/sim.err")" -eq 1 ] || fail "one click sent more than one frame"
echo "PASS: one command frame arrived: ${command[*]:0:16}"

kill -0 "$qv_pid" 2>/dev/null || fail "the window is gone"

kill -TERM "$sim_pid"
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=''
[ "$sim_status" -eq 0 ] || fail "the simulator ended with status $sim_status after SIGTERM"
[ ! -L "$LINK" ] || fail "the simulator left $LINK behind"
echo "PASS: end to end: port chosen and opened, reports shown, settings applied"
