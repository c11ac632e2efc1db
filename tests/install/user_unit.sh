#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The user service as systemd reads it: systemd-analyze verifies it as a user unit, with no
# complaint at all, its Documentation= line finding the built manual page. The unit names the
# installed program, so a copy of it names the built one. No running systemd is needed.
# Usage: user_unit.sh UNIT KELVANO MANDIR
set -u
unit=$1 kelvano=$2 mandir=$3

. "$(dirname "$0")/../lib.sh"
dir=$work
mkdir "$dir/units" "$dir/runtime"
name=$(basename "$unit")
sed "s|^ExecStart=[^ ]*|ExecStart=$kelvano|" "$unit" >"$dir/units/$name"
grep -q "^ExecStart=$kelvano --headless" "$dir/units/$name" ||
    { printf '%s does not run the program --headless\n' "$unit"; exit 1; }

out=$(cd "$dir/units" && XDG_RUNTIME_DIR="$dir/runtime" MANPATH="$mandir" \
    systemd-analyze --user verify "./$name" 2>&1)
status=$?
if [ "$status" -ne 0 ] || [ -n "$out" ]; then
    printf 'systemd-analyze --user verify %s: status %s\n%s\n' "$name" "$status" "$out"
    exit 1
fi
