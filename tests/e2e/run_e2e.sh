#!/usr/bin/env bash
# End to end: the real orvale-qv window on a private Xvfb display, driven with
# xdotool the way an operator drives it, against the real orvale-board-sim
# linked at /dev/COM19.
#
# The board side is judged from the simulator's standard error, which logs
# every report it writes and every command it takes. The window side is
# judged by what can be seen from outside: pixel regions of the window (the
# seven-segment display and the device information labels) and the value
# bytes the window echoes back in its command, which it can only know by
# having decoded a report.
#
# Usage: run_e2e.sh PATH/TO/orvale-qv PATH/TO/orvale-board-sim
# Exit status: 0 passed, 1 failed, 77 skipped (precondition missing).
set -euo pipefail

# shellcheck source=scripts/xwindow.sh
source "$(dirname "$0")/../../scripts/xwindow.sh"

QV=${1:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM}
SIM=${2:?usage: run_e2e.sh ORVALE_QV ORVALE_BOARD_SIM}

# COM19 rather than COM1, so a demo running at /dev/COM1 is left alone; it is
# one of the window's fixed entries, reachable by keys.
LINK=/dev/COM19
PORT_INDEX=18

# Positions inside the window, measured on a screenshot of the 830x446 window
# (the form's 830x392 plus the menu bar with its data menu and the status bar). The layout is a fixed grid,
# so they hold as long as the window has this size; it is checked below.
WINDOW_SIZE=830x446
PORT_BOX=(780 78)
OPEN_BUTTON=(749 235)
SEND_BUTTON=(749 333)
ID_BOX=(605 268)
CHANNEL_BOX=(605 300)
RATE_BOX=(605 332)
FILTER_BOX=(605 364)
LCD_REGION=(20 74 640 130)     # x y width height
LABEL_REGION=(100 257 85 150)  # the five device information values

# The wait for the lock and the run stay well inside CTest's timeout, so the
# clean-up below always gets to run instead of the process being killed from
# outside. A run takes about 5 s, twice that under load.
LOCK_LIMIT=20
RUN_LIMIT=35
STEP_LIMIT=20

skip() { echo "SKIP: $*"; exit 77; }
pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    if [ -n "${tmp:-}" ]; then
        for log in "$tmp/sim.err" "$tmp/qv.log"; do
            [ -s "$log" ] || continue
            echo "---- last lines of $(basename "$log")"
            tail -n 20 "$log"
        done
    fi
    exit 1
}

[ "$(id -u)" -eq 0 ] || skip "needs root to make the link $LINK"
for tool in Xvfb xdotool import flock; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh lists it)"
done
[ -x "$QV" ] || fail "no window program at $QV"
[ -x "$SIM" ] || fail "no simulator at $SIM"

# Runs from other build trees (a sanitizer build, say) may overlap with this
# one, and the simulator replaces a link that is already there: the runs take
# turns through a lock that every tree shares. The lock file stays, empty:
# removing it would let a third run lock a different file. Only this shell
# holds the lock; the programs it starts get no copy of its descriptor.
exec 9>>/tmp/orvale-e2e-COM19.lock
flock -w "$LOCK_LIMIT" 9 || fail "another end-to-end run held $LINK for $LOCK_LIMIT s"
# A link to a live line belongs to a board someone else is running.
if [ -L "$LINK" ] && [ -e "$LINK" ]; then
    fail "$LINK already links to $(readlink "$LINK"); another board is using it"
fi
[ ! -e "$LINK" ] || [ -L "$LINK" ] || fail "$LINK exists and is not a link"

tmp=$(mktemp -d /tmp/orvale-e2e.XXXXXX)
xvfb_pid='' sim_pid='' qv_pid='' pty=''

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    orvale_stop "$qv_pid"
    orvale_stop "$sim_pid"
    orvale_stop "$xvfb_pid"
    # The simulator removes its link; only a stale link to our own line is
    # taken away here, never one that something else put in its place.
    if [ -L "$LINK" ] && [ -n "$pty" ] && [ "$(readlink "$LINK")" = "$pty" ]; then
        rm -f "$LINK"
    fi
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

deadline=$((SECONDS + RUN_LIMIT))

# Runs "$@" until it succeeds, for at most $1 seconds and never past the
# run's deadline.
wait_for() {
    local limit=$1
    shift
    local until=$((SECONDS + limit))
    [ "$until" -le "$deadline" ] || until=$deadline
    while ! "$@"; do
        [ "$SECONDS" -lt "$until" ] || return 1
        sleep 0.1
    done
}

# CRC-16/MODBUS over the hex bytes given, printed as the two wire bytes,
# low byte first, the way a frame carries it.
crc_bytes() {
    local crc=$((0xFFFF)) byte _
    for byte in "$@"; do
        crc=$((crc ^ 0x$byte))
        for _ in 1 2 3 4 5 6 7 8; do
            if ((crc & 1)); then crc=$(((crc >> 1) ^ 0xA001)); else crc=$((crc >> 1)); fi
        done
    done
    printf '%02x %02x' $((crc & 0xFF)) $((crc >> 8))
}
# The check value of the checksum, so a broken checker cannot pass frames.
[ "$(crc_bytes 31 32 33 34 35 36 37 38 39)" = "37 4b" ] || fail "the test's own CRC-16/MODBUS is wrong"

frame_ok() {  # 16 hex bytes
    [ $# -eq 16 ] && [ "$(crc_bytes "${@:1:14}")" = "${15} ${16}" ]
}

# --- the display ------------------------------------------------------------
# Xvfb picks a free display itself and names it once it accepts clients.
mkfifo "$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 9>&- &
xvfb_pid=$!
read -r -t "$STEP_LIMIT" display_number <"$tmp/display" || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=":$display_number"
pass "Xvfb is ready on $DISPLAY"

# --- the board ----------------------------------------------------------------
mkfifo "$tmp/sim.out"
"$SIM" --link "$LINK" --log-reports --seed 19 >"$tmp/sim.out" 2>"$tmp/sim.err" 9>&- &
sim_pid=$!
read -r -t "$STEP_LIMIT" pty <"$tmp/sim.out" || fail "the simulator gave no line"
[ "$(readlink "$LINK")" = "$pty" ] || fail "$LINK does not link to the simulator's line $pty"
pass "the simulator's line $pty is linked at $LINK"

# --- the window -------------------------------------------------------------
# The window must draw on the display even when the suites around it run
# offscreen.
QT_QPA_PLATFORM=xcb "$QV" >"$tmp/qv.log" 2>&1 9>&- &
qv_pid=$!
wid=$(timeout "$STEP_LIMIT" xdotool search --sync --onlyvisible --name 'Orvale QV' | head -n 1) \
    || fail "the window did not appear"
size=$(xdotool getwindowgeometry "$wid" | sed -n 's/^ *Geometry: //p')
[ "$size" = "$WINDOW_SIZE" ] || fail "the window is $size, not $WINDOW_SIZE: the click positions do not fit it"
pass "the window is shown ($size)"

region() {  # x y width height: a hash of those pixels of the window
    import -window "$wid" -crop "${3}x${4}+${1}+${2}" +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}
click() {  # x y, inside the window
    timeout 10 xdotool mousemove --window "$wid" "$1" "$2" click 1
}
visible_windows() {
    xdotool search --onlyvisible --pid "$qv_pid" 2>/dev/null | wc -l
}
popup_count_is() { [ "$(visible_windows)" -eq "$1" ]; }

# Opens the combo box at x y and picks the entry `index` places below the
# first with the keyboard, as an operator does; the popup must come and go.
choose() {
    local x=$1 y=$2 index=$3 keys=(Home) i
    for ((i = 0; i < index; i++)); do keys+=(Down); done
    keys+=(Return)
    click "$x" "$y"
    wait_for 10 popup_count_is 2 || fail "the list of the combo box at $x,$y did not open"
    timeout 10 xdotool key --delay 30 "${keys[@]}"
    wait_for 10 popup_count_is 1 || fail "the list of the combo box at $x,$y did not close"
}

# Drawn once the same pixels come back twice in a row.
stable_region() {
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
lcd_closed=$(stable_region "${LCD_REGION[@]}")
labels_closed=$(stable_region "${LABEL_REGION[@]}")

choose "${PORT_BOX[@]}" "$PORT_INDEX"
click "${OPEN_BUTTON[@]}"

region_differs() {  # hash x y width height
    [ "$(region "${@:2}")" != "$1" ]
}
wait_for "$STEP_LIMIT" region_differs "$lcd_closed" "${LCD_REGION[@]}" \
    || fail "the display never changed after opening COM19"
wait_for 10 region_differs "$labels_closed" "${LABEL_REGION[@]}" \
    || fail "the device information never appeared after opening COM19"
pass "after opening COM19 the display and the device information changed"

# The value wanders by a few millivolts in every report, so a display that
# follows the reports shows ever new pixels.
lcd_seen=$(region "${LCD_REGION[@]}")
wait_for 10 region_differs "$lcd_seen" "${LCD_REGION[@]}" || fail "the display stands still"
lcd_seen=$(region "${LCD_REGION[@]}")
wait_for 10 region_differs "$lcd_seen" "${LCD_REGION[@]}" || fail "the display stands still"
pass "the display follows the reports"

labels_running=$(stable_region "${LABEL_REGION[@]}")

report_count() { grep -c '^report ' "$tmp/sim.err" || true; }
[ "$(report_count)" -gt 0 ] || fail "the simulator logged no report"
if grep '^report ' "$tmp/sim.err" | grep -v -q '^report a1 00 00 00 01 04 00 03 '; then
    fail "the simulator sent a report other than its defaults before any command"
fi

# --- new settings -----------------------------------------------------------
choose "${ID_BOX[@]}" 3        # A3
choose "${RATE_BOX[@]}" 2      # 62 Sa/s
choose "${FILTER_BOX[@]}" 1    # Average value
choose "${CHANNEL_BOX[@]}" 0   # CH1
click "${SEND_BUTTON[@]}"

has_command() { grep -q '^command ' "$tmp/sim.err"; }
wait_for "$STEP_LIMIT" has_command || fail "the simulator received no command after 参数生效"

# The frame is compared field by field, so a failure says which one is wrong.
command_line=$(grep -m 1 '^command ' "$tmp/sim.err")
read -r -a command <<<"${command_line#command }"
command=("${command[@]:0:16}")
[ "${command[0]}" = a3 ] || fail "command device byte is ${command[0]}, not a3: $command_line"
[ "${command[*]:4:4}" = "02 01 00 00" ] || fail "command settings are ${command[*]:4:4}, not 02 01 00 00: $command_line"
frame_ok "${command[@]}" || fail "command checksum does not hold: $command_line"
# Bytes 1-3 and 8-13 come from the newest report the window decoded.
echoed="${command[*]:1:3} ${command[*]:8:6}"
command_at=$(grep -n -m 1 '^command ' "$tmp/sim.err" | cut -d: -f1)
head -n "$command_at" "$tmp/sim.err" | grep '^report ' | grep -v 'corrupted$' | cut -d' ' -f2-17 >"$tmp/before"
found=no
while read -r -a report; do
    [ "${report[*]:1:3} ${report[*]:8:6}" = "$echoed" ] && found=yes
done <"$tmp/before"
[ "$found" = yes ] || fail "command bytes 1-3 and 8-13 ($echoed) echo no report the simulator sent"
pass "one command frame arrived: ${command[*]}; it echoes a report the board sent"

[ "$(grep -c '^command ' "$tmp/sim.err")" -eq 1 ] || fail "one click sent more than one command"
if grep -q '^ignored ' "$tmp/sim.err"; then
    fail "the window sent bytes that form no command: $(grep -m 1 '^ignored ' "$tmp/sim.err")"
fi

reports_after() { tail -n +"$((command_at + 1))" "$tmp/sim.err" | grep -c '^report ' || true; }
enough_reports_after() { [ "$(reports_after)" -ge 10 ]; }
wait_for "$STEP_LIMIT" enough_reports_after || fail "the board sent too few reports after the command"
while read -r -a report; do
    frame_ok "${report[@]:0:16}" || fail "a report after the command has a bad checksum: ${report[*]}"
    [ "${report[0]} ${report[*]:4:4}" = "a3 02 01 00 00" ] \
        || fail "a report after the command does not carry the new settings: ${report[*]}"
done < <(tail -n +"$((command_at + 1))" "$tmp/sim.err" | grep '^report ' | grep -v 'corrupted$' | cut -d' ' -f2-17)
pass "every report after the command carries id a3 and settings 02 01 00 00"

wait_for 10 region_differs "$labels_running" "${LABEL_REGION[@]}" \
    || fail "the device information did not change to the new settings"
[ "$(stable_region "${LABEL_REGION[@]}")" != "$labels_closed" ] || fail "the device information went back to its closed state"
pass "the window shows the new device information"

kill -0 "$qv_pid" 2>/dev/null || fail "the window is gone"

# --- recording ----------------------------------------------------------------
# Ctrl+R asks for a file; its name is typed over the proposed one.
csv=$tmp/e2e.csv
click "${LCD_REGION[@]:0:2}"
timeout 10 xdotool key ctrl+r
wait_for 10 popup_count_is 2 || fail "Ctrl+R opened no file dialog"
timeout 10 xdotool key ctrl+a type --delay 20 "$csv"
timeout 10 xdotool key Return
csv_rows() { [ "$(wc -l <"$csv" 2>/dev/null || echo 0)" -gt 20 ]; }
wait_for "$STEP_LIMIT" csv_rows || fail "the recording holds fewer than 20 rows"
sleep 1.2  # one more of the flushes each second: every row checked below is whole
[ "$(head -n 1 "$csv")" = "utc_time,seconds,value_v,device_id,channel,sample_rate,filter" ] || fail "CSV header"
row_re='^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z,[0-9]+\.[0-9]{3},[0-9]+\.[0-9]{8},0xA3,CH1,62 Sa/s,Average value$'
bad_row=$(tail -n +2 "$csv" | grep -v -E -m 1 "$row_re" || true)
[ -z "$bad_row" ] || fail "a CSV row is not as the window shows its report: $bad_row"
tail -n +2 "$csv" | cut -d, -f2 | sort -c -n || fail "the CSV's seconds decrease"
# The values are the board's valid reports, each once, in order.
tail -n +2 "$csv" | cut -d, -f3 >"$tmp/csv.values"
grep '^report ' "$tmp/sim.err" | grep -v 'corrupted$' | while read -r -a r; do
    v=$((16#${r[12]}${r[11]}${r[10]}${r[9]}))
    printf '%d.%08d\n' $((v / 100000000)) $((v % 100000000))
done >"$tmp/sim.values"
first=$(grep -n -x -F -m 1 "$(head -n 1 "$tmp/csv.values")" "$tmp/sim.values" | cut -d: -f1)
tail -n +"${first:-1}" "$tmp/sim.values" | head -n "$(wc -l <"$tmp/csv.values")" | cmp -s - "$tmp/csv.values" \
    && [ -n "$first" ] || fail "the recorded values are not the board's reports, each once, in order"
pass "recorded $(wc -l <"$tmp/csv.values") rows, each a report of the board, in order"
click "${LCD_REGION[@]:0:2}"
timeout 10 xdotool key ctrl+t
wait_for 10 popup_count_is 2 || fail "Ctrl+T showed no trend window"
pass "Ctrl+T shows the trend window"

# A board stopped by SIGTERM ends its run normally: status 0 (a sanitizer
# build reports leaks there) and its link gone.
kill -TERM "$sim_pid"
sim_status=0
wait "$sim_pid" || sim_status=$?
sim_pid=''
[ "$sim_status" -eq 0 ] || fail "the simulator ended with status $sim_status after SIGTERM"
[ ! -L "$LINK" ] || fail "the simulator left $LINK behind"
pass "the simulator ended cleanly and removed $LINK"

pass "end to end: port chosen and opened, reports shown, settings applied"
