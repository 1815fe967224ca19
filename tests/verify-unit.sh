#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# systemd-analyze verify on the logger's template unit, as an instance. The
# program and its manual page are only there once the package is installed,
# so a stand-in program is named and the manual page is not looked up.
set -eu
unit=$1
command -v systemd-analyze >/dev/null || { echo "systemd-analyze missing: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
sed 's|/usr/bin/orvale-logger|/bin/true|' "$unit" > "$dir/orvale-logger@ttyUSB0.service"
cd "$dir"
out=$(systemd-analyze verify --man=no ./orvale-logger@ttyUSB0.service 2>&1) || { echo "$out"; exit 1; }
# verify passes with some findings only printed; none is wanted.
[ -z "$out" ] || { echo "$out"; exit 1; }
echo "orvale-logger@.service verified"
