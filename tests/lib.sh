# SPDX-License-Identifier: GPL-3.0-or-later
# What the shell tests share, sourced after `set -u`: a work folder, removed at the end with the
# processes a test left running; fail; and wait_for, a bounded poll.

work=$(mktemp -d)
failed=0
# The names of the variables that hold the pids of the processes a test starts in the
# background, each emptied once its process has ended: those still named are killed at the end,
# however the test ends.
running=
cleanup() {
    for name in $running; do
        eval "pid=\${$name:-}"
        [ -z "$pid" ] || kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# fail MESSAGE...: says what is wrong; the test goes on and ends with status 1.
fail() {
    printf '%s\n' "$*"
    failed=1
}

# wait_for COMMAND...: until the command succeeds, at most a minute however slow the machine.
wait_for() {
    waited=0
    until "$@"; do
        waited=$((waited + 1))
        [ $waited -lt 600 ] || return 1
        sleep 0.1
    done
}

# check STATUS LINE ARGS...: $kelvano run with ARGS ends with STATUS and prints LINE on a line of
# its own; a run that does not end is cut off after a minute.
check() {
    want_status=$1 want_line=$2
    shift 2
    out=$(timeout 60 "$kelvano" "$@" 2>&1)
    status=$?
    [ "$status" -eq "$want_status" ] && printf '%s\n' "$out" | grep -qxF -- "$want_line" ||
        fail "kelvano $* (DISPLAY=${DISPLAY-unset}): status $status, not $want_status, or no line" \
            "$want_line in:
$out"
}
