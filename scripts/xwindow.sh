# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that drive the real window on a private Xvfb display
# against the simulated board.

# The window (the form plus the menu bar with its menus and the status bar)
# on an X server at 96 dpi, as a desktop sets it: 830x428 on Qt 5, 830x423 on
# Qt 6, whose fonts' line heights come out a pixel smaller (the small combo
# boxes and the value labels). Measured on screenshots; the form's grid
# layout is fixed, so the region looked at (never clicked) holds at these
# sizes. The port is chosen and opened by the window's options
# (--port NAME --open).
ORVALE_WINDOW_SIZE=830x428
ORVALE_WINDOW_SIZE_QT6=830x423
ORVALE_LCD_REGION=(20 72 640 120)     # x y width height

# True when $1 (WxH) is the window's size on either Qt version.
orvale_window_size_known() {
    [ "$1" = "$ORVALE_WINDOW_SIZE" ] || [ "$1" = "$ORVALE_WINDOW_SIZE_QT6" ]
}

# Stops process $1: SIGTERM, and SIGKILL if it is still there after 5 s.
orvale_stop() {
    local pid=$1 _
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# Starts Xvfb at 96 dpi (Xvfb's own default is 100: Qt 5 would size its fonts
# by it, Qt 6 by 96) on a display number it picks itself, with its fifo and log in
# directory $1, and exports DISPLAY once it accepts clients. Sets
# orvale_xvfb_pid. Returns non-zero when it does not start within 30 s.
orvale_start_xvfb() {
    local dir=$1 number
    mkfifo "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    orvale_xvfb_pid=$!
    read -r -t 30 number <"$dir/display" || { cat "$dir/xvfb.log" >&2; return 1; }
    export DISPLAY=":$number"
}

# The start-up routine's title, whole.
ORVALE_WINDOW_TITLE=' Orvale QV1.0  '

# Starts the window program $1 with the arguments after $2 on the display
# (never offscreen, whatever the environment says), its output in $2, and
# waits up to 30 s for its window: the visible window of that very process
# under the full title (a search by title alone can find a window before it
# is known to be ours). Sets orvale_qv_pid and orvale_wid.
orvale_start_window() {
    local program=$1 output=$2 until=$((SECONDS + 30)) id
    shift 2
    QT_QPA_PLATFORM=xcb "$program" "$@" >"$output" 2>&1 &
    orvale_qv_pid=$!
    orvale_wid=''
    while [ "$SECONDS" -lt "$until" ] && kill -0 "$orvale_qv_pid" 2>/dev/null; do
        for id in $(xdotool search --onlyvisible --pid "$orvale_qv_pid" 2>/dev/null); do
            [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$ORVALE_WINDOW_TITLE" ] || continue
            orvale_wid=$id
            return 0
        done
        sleep 0.1
    done
    return 1
}

# True once window $1 carries property $2 with a value, within $3 seconds:
# a window manager or a script may look before the program has set it.
orvale_wait_property() {
    local until=$((SECONDS + $3))
    until xprop -id "$1" "$2" 2>/dev/null | grep -q '='; do
        [ "$SECONDS" -lt "$until" ] || return 1
        sleep 0.1
    done
}

# A hash of the pixels of the window in region x y width height.
orvale_region() {
    import -window "$orvale_wid" -crop "${3}x${4}+${1}+${2}" +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}
