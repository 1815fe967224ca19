# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that drive the real window on a private Xvfb display
# against the simulated board.

# The window (the form plus the menu bar with its data menu and the status
# bar) on an X server at 96 dpi, as a desktop sets it: 830x428 on Qt 5,
# 830x423 on Qt 6, whose fonts' line heights come out a pixel smaller (the
# small combo boxes and the value labels). Measured on screenshots; the form's
# grid layout is fixed, so these hold at these sizes. The two points to click
# lie inside their widgets on both, and also in Qt 5's taller form at 100 dpi
# (Xvfb's own default, which Qt 5 takes and Qt 6 does not).
ORVALE_WINDOW_SIZE=830x428
ORVALE_WINDOW_SIZE_QT6=830x423
ORVALE_PORT_BOX=(780 75)
ORVALE_OPEN_BUTTON=(752 225)
ORVALE_LCD_REGION=(20 72 640 120)     # x y width height
ORVALE_LABEL_REGION=(100 235 72 160)  # the five device information values

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

# Starts the window program $1 on the display (never offscreen, whatever the
# environment says), its output in $2, and waits up to 30 s for its window.
# Sets orvale_qv_pid and orvale_wid.
orvale_start_window() {
    QT_QPA_PLATFORM=xcb "$1" >"$2" 2>&1 &
    orvale_qv_pid=$!
    orvale_wid=$(timeout 30 xdotool search --sync --onlyvisible --name 'Orvale QV' | head -n 1) || true
    [ -n "$orvale_wid" ]
}

# A hash of the pixels of the window in region x y width height.
orvale_region() {
    import -window "$orvale_wid" -crop "${3}x${4}+${1}+${2}" +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}

# Clicks at x y inside the window.
orvale_click() {
    timeout 10 xdotool mousemove --window "$orvale_wid" "$1" "$2" click 1
}

# True while a list (a combo box's popup) of the window shows beside it.
orvale_popup_shown() {
    [ "$(xdotool search --onlyvisible --pid "$orvale_qv_pid" 2>/dev/null | wc -l)" -ge 2 ]
}
