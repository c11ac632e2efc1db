#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installed where the user may not write (like /usr/bin), the log goes to the documents folder and
# the log panel says so. As root, who may write anywhere, the check runs as the user nobody.
# Usage: log_folder.sh LOG_PANEL_PATH_PROGRAM
set -eu
bin=$(mktemp -d)
home=$(mktemp -d)
trap 'chmod -R u+w "$bin"; rm -rf "$bin" "$home"' EXIT
cp "$1" "$bin/"
chmod 555 "$bin"
chmod 755 "$home"
as_user=""
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$home"
    as_user="setpriv --reuid=nobody --regid=nogroup --clear-groups"
fi
# A failed log shows a box that nobody answers here: the time limit ends it.
got=$(cd / && timeout 20 $as_user env HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_RUNTIME_DIR= "$bin/$(basename "$1")" 2>/dev/null) || true
want="$home/Documents/KelvanoLog.csv written"
[ "$got" = "$want" ] || { printf 'log panel: %s\nexpected:  %s\n' "$got" "$want"; exit 1; }
