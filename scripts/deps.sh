# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts: installs the Debian packages named in $@ that are
# missing, with sudo when not root. Nothing is installed when all are present.
orvale_need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building and running the window and the logger need (zstd for the
# compressed recordings, libsystemd for the logger's service notifications,
# libmosquitto for publishing through a broker).
ORVALE_BUILD_PACKAGES=(build-essential cmake pkg-config qtbase5-dev libqt5serialport5-dev libqcustomplot-dev libfftw3-dev libzstd-dev libsystemd-dev libmosquitto-dev fonts-wqy-microhei)
# What the Qt 6 build needs beside them (the plot widget's package carries both).
ORVALE_QT6_PACKAGES=(qt6-base-dev qt6-serialport-dev)
# What scripts/test builds with beside them: Ninja, lld, and clang for the
# sanitizer round (its sanitizers' runtime is only recommended by clang);
# systemd-analyze for the logger's unit; the broker the publishing suite runs
# against, and openssl for its certificates; zstd, with which the soak's
# logger mode reads the compressed files back on its own.
ORVALE_TEST_PACKAGES=(ninja-build lld clang libclang-rt-14-dev systemd mosquitto openssl zstd)
# What scripts/influx-check needs: a real time-series server and curl.
ORVALE_INFLUX_PACKAGES=(influxdb curl)
# What the end-to-end tests and the demo need on a machine without a display.
ORVALE_DISPLAY_PACKAGES=(xvfb xdotool x11-apps imagemagick)
# What scripts/package needs to build, check and try the .deb.
ORVALE_PACKAGE_PACKAGES=(dpkg-dev lintian appstream desktop-file-utils man-db x11-utils)
# What scripts/peer-bench needs: the two general serial terminals it compares with, and its tools.
ORVALE_PEER_PACKAGES=(cutecom gtkterm xvfb xdotool imagemagick gcc python3 time)
