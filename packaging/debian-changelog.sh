#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes CHANGELOG.md in the format Debian keeps a native package's changelog
# in: one entry per "## VERSION (YYYY-MM-DD)" section, its "- " items as
# "  * " items, signed by the maintainer at noon UTC of the section's date.
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE "NAME <MAIL>" > changelog
set -eu
changelog=$1 package=$2 maintainer=$3
awk -v package="$package" -v maintainer="$maintainer" '
function close_entry() {
    if (version == "") return
    cmd = "LC_ALL=C date -u -R -d \"" day " 12:00\""
    if ((cmd | getline stamp) <= 0) { print "bad date: " day > "/dev/stderr"; exit 1 }
    close(cmd)
    printf "\n -- %s  %s\n", maintainer, stamp
    version = ""
}
/^## / {
    if (match($0, /^## [^ ]+ \([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\)$/) == 0) {
        print "not a release heading: " $0 > "/dev/stderr"; exit 1
    }
    close_entry()
    if (entries++) print ""
    version = $2
    day = substr($3, 2, 10)
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    next
}
version == "" { next }
/^- / { print "  * " substr($0, 3); next }
/^  [^ ]/ { print "  " $0; next }
/^$/ { next }
{ print "unexpected line in a release section: " $0 > "/dev/stderr"; exit 1 }
END { close_entry(); if (!entries) { print "no release in " FILENAME > "/dev/stderr"; exit 1 } }
' "$changelog"
