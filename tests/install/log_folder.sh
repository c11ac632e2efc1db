#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Where the log panel puts the log, with the program run from where users run it: from a folder of
# its own (a build or a copied folder) the log goes beside it; from a folder the user may not write,
# and from the installed bin folder even as root, who may write there, it goes to the documents
# folder. The installed bin folder is a private empty one mounted over the real one for the run.
# The program's libraries are copied to a folder that every user may read, and found there.
# Usage: log_folder.sh LOG_PANEL_PATH_PROGRAM INSTALL_BINDIR LIBRARY_DIR
set -eu
program=$1
bindir=$2
name=$(basename "$program")
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
home=$work/home
mkdir "$home" "$work/copied" "$work/locked" "$work/libraries"
cp "$program" "$work/copied/"
cp "$program" "$work/locked/"
cp "$3"/libkelvano-*.so "$work/libraries/"
chmod 755 "$work" "$home" "$work/copied" "$work/libraries"
chmod 555 "$work/locked"
failed=0

# check WHAT EXPECTED COMMAND...: runs the program (it prints where the log went) in a clean
# environment. A failed log shows a box that nobody answers here: the time limit ends it.
check() {
    what=$1
    want=$2
    shift 2
    got=$(cd / && timeout 20 env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR= \
        LD_LIBRARY_PATH="$work/libraries" "$@" 2>/dev/null) || true
    if [ "$got" != "$want" ]; then
        printf '%s: %s\n  expected: %s\n' "$what" "$got" "$want"
        failed=1
    fi
}

check "copied folder" "$work/copied/KelvanoLog.csv written" "$work/copied/$name"
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$home"
    check "folder not writable" "$home/Documents/KelvanoLog.csv written" \
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/locked/$name"
    if [ -d "$bindir" ] && unshare -m true 2>/dev/null; then
        check "installed, as root" "$home/Documents/KelvanoLog.csv written" \
            unshare -m sh -c 'mount -t tmpfs bin "$1" && cp "$2" "$1/" && exec "$1/$3"' sh \
            "$bindir" "$program" "$name"
    else
        echo "not checked: installed, as root (needs $bindir and a private mount)"
    fi
else
    check "folder not writable" "$home/Documents/KelvanoLog.csv written" "$work/locked/$name"
    echo "not checked: installed, as root (run the tests as root for it)"
fi
exit $failed
