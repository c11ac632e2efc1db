#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The program's command line as a user meets it: exit status and the line it prints.
# Usage: command_line.sh KELVANO VERSION
set -u
kelvano=$1 version=$2
failed=0

# check STATUS LINE ARGS...: the run ends with STATUS and prints LINE on its own line.
check() {
    want_status=$1 want_line=$2
    shift 2
    out=$("$kelvano" "$@" 2>&1)
    status=$?
    if [ "$status" -ne "$want_status" ] || ! printf '%s\n' "$out" | grep -qxF -- "$want_line"; then
        printf 'kelvano %s: status %s, not %s or no line %s in:\n%s\n' "$*" "$status" \
            "$want_status" "$want_line" "$out"
        failed=1
    fi
}

check 0 "Kelvano $version" --version
check 2 "kelvano: use only one of --demo, --replay and --device" --demo --device 0
replay=$(mktemp)
trap 'rm -f "$replay"' EXIT
printf 'probe 0\n0 5203 31036\nprobe 0\n' >"$replay"
check 2 "$replay:3: probe entry after a read" --replay "$replay"
if [ -z "$("$kelvano" --list-devices 2>/dev/null)" ]; then # none listed
    check 1 'kelvano: no joystick found. Check that the adapter is plugged in and that you may read it (on many systems: be in the "input" group, then log in again).' --list-devices
    check 2 'kelvano: no joystick matches "Thermo"; no joystick is plugged in.' --device Thermo
fi

# --help: every option, each on one line of its own (a wrapped description adds a line).
options=$("$kelvano" --help 2>/dev/null | sed '1,/^Options:/d' |
    sed -E 's/^ +(-[^ ]*( [^ ]+)?)  +[A-Z].*/\1/' | paste -sd '|')
want='-h, --help|--help-all|-v, --version|--demo|--replay <file>|--list-devices|--device <id>'
[ "$options" = "$want" ] || { printf -- '--help options: %s\n' "$options"; failed=1; }
exit $failed
