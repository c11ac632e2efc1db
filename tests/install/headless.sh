#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# kelvano --headless as a service manager or a shell runs it: no display, rows to a file or to
# standard output, status lines on standard error, SIGTERM and SIGHUP, and its refusals.
# Usage: headless.sh KELVANO
set -u
kelvano=$1
. "$(dirname "$0")/../lib.sh"
pid=
running=pid
export HOME="$work" XDG_CONFIG_HOME="$work/config"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# Connected, then unplugged from the fourth read on.
printf '0 5203 31036\n0 5203 31036\n0 9817 31036\n167\n' >"$work/replay"
header=$(printf 'Date,Time,Sensor1,Sensor2,\r')

# rows FILE: the number of rows after the header.
rows() { [ -f "$1" ] && echo $(($(wc -l <"$1") - 1)) || echo 0; }
enough() { [ "$(rows "$1")" -ge "$2" ]; }
# wait_rows FILE N: until FILE has N rows.
wait_rows() { wait_for enough "$1" "$2" || fail "$1: $(rows "$1") rows, waited for $2"; }
# whole FILE: the header first and every line ends in CR LF.
whole() {
    [ "$(head -n 1 "$1")" = "$header" ] || fail "$1: header is '$(head -n 1 "$1")'"
    [ "$(tail -c 2 "$1" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "$1: last line not whole"
    grep -qv "$(printf '\r')\$" "$1" && fail "$1: a line without CR"
}

# ends STATUS WHAT: the run started last ends with STATUS (killed if it still runs after a minute).
ended() { ! kill -0 "$pid" 2>/dev/null; }
ends() {
    wait_for ended
    kill -9 "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    pid=
    [ $status -eq "$1" ] || fail "$2: status $status, not $1"
}
# stop SIGNAL WHAT: ends the run started last with SIGNAL; it must end with status 0.
stop() {
    kill -"$1" $pid
    ends 0 "$2 after SIG$1"
}

# Standard output, then SIGTERM: status 0 and nothing torn.
"$kelvano" --headless --replay "$work/replay" --log - --interval 1 >"$work/out" 2>"$work/err" &
pid=$!
wait_rows "$work/out" 5
stop TERM "--log -"
whole "$work/out"
sed -n 2p "$work/out" | grep -qE '^[^,]+,[^,]+,50, 50 ' || fail "first row: $(sed -n 2p "$work/out")"
stamp='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(Z|[+-][0-9]{2}:[0-9]{2})'
grep -qE "^$stamp port status: sensors connected$" "$work/err" || fail "no connected line: $(cat "$work/err")"
grep -qE "^$stamp port status: .*unplugged" "$work/err" || fail "no unplugged line: $(cat "$work/err")"
sed -n 1p "$work/err" | grep -qxE "$stamp logging to standard output every 1 s from the readings in $work/replay \(--replay\)" ||
    fail "no start line: $(cat "$work/err")"
[ "$(wc -l <"$work/err")" -eq 3 ] || fail "a status line for each change only: $(cat "$work/err")"

# A file, moved away as log rotation does, then SIGHUP: the moved file keeps its rows, new rows
# go to a new file at the path, with its header.
"$kelvano" --headless --replay "$work/replay" --log "$work/log.csv" --interval 1 2>/dev/null &
pid=$!
wait_rows "$work/log.csv" 2
mv "$work/log.csv" "$work/moved.csv"
kill -HUP $pid
wait_rows "$work/log.csv" 2
stop INT "SIGHUP run"
whole "$work/moved.csv"
whole "$work/log.csv"

# The log's folder replaced by a file, then SIGHUP: the log cannot be opened again; the run
# says so and ends with status 4 (no row is due in between). Killed after a minute if it hangs.
mkdir "$work/gone"
"$kelvano" --headless --demo --log "$work/gone/log.csv" --interval 3600 2>"$work/err" &
pid=$!
wait_for [ -s "$work/gone/log.csv" ] || fail "no header in $work/gone/log.csv"
rm -rf "$work/gone"
: >"$work/gone"
kill -HUP $pid
ends 4 "reopen after SIGHUP failed"
grep -q "^Logging stopped: .*could not be opened again" "$work/err" || fail "$(cat "$work/err")"

# Signals and standard descriptors, as a service manager or a shell may leave them:
# - bursts of SIGHUP: the handler never waits, the rows go on, SIGTERM still ends the run;
# - standard output's reader exits: status 4, the rows it read whole;
# - started without standard output and error: no file takes their place, a log file stays whole;
# - --log - without standard output, or on a full disk: refused.
# burst SIGNAL N: N signals to the run started last, as fast as the shell sends them.
burst() { kill -"$1" $(yes $pid | head -n "$2"); }
"$kelvano" --headless --demo --log "$work/burst.csv" --interval 1 2>/dev/null &
pid=$!
wait_rows "$work/burst.csv" 1
for n in 2000 20000 200000; do
    burst HUP $n
    wait_rows "$work/burst.csv" $(($(rows "$work/burst.csv") + 2))
done
burst HUP 20000
kill -TERM $pid
ends 0 "SIGTERM after bursts of SIGHUP"
whole "$work/burst.csv"

mkfifo "$work/fifo"
"$kelvano" --headless --demo --log - --interval 1 >"$work/fifo" 2>"$work/err" &
pid=$!
head -n 3 <"$work/fifo" >"$work/out"
ends 4 "standard output's reader gone"
whole "$work/out"
grep -qxE "Logging stopped: standard output was closed after [0-9]+ rows?\." "$work/err" ||
    fail "reader gone: $(cat "$work/err")"

"$kelvano" --headless --demo --log "$work/closed.csv" --interval 1 >&- 2>&- &
pid=$!
wait_rows "$work/closed.csv" 2
stop TERM "without standard output and error"
whole "$work/closed.csv"

out=$(timeout 60 "$kelvano" --headless --demo --log - 2>&1 >&-)
status=$?
[ $status -eq 4 ] && [ "$out" = "Logging did not start: standard output is closed." ] ||
    fail "--log - without standard output: status $status, $out"
out=$(timeout 60 "$kelvano" --headless --demo --log - 2>&1 >/dev/full)
status=$?
[ $status -eq 4 ] && [ "$out" = "Logging did not start: standard output could not be written (No space left on device)." ] ||
    fail "--log - on a full disk: status $status, $out"

for bad in 0 86401 1.5 soon; do
    check 2 "kelvano: --interval takes a whole number of seconds from 1 to 86400, not '$bad'" \
        --headless --demo --interval "$bad"
done
check 2 "kelvano: --log and --interval go with --headless" --demo --log -
printf 'probe 165\n' >"$work/missing"
check 1 "kelvano: Couldn't detect the Sensors. Make sure gameport driver is installed." \
    --headless --replay "$work/missing"
: >"$work/file"
check 4 "Logging did not start: the log file $work/file/log.csv could not be created (its lock file could not be made)." \
    --headless --demo --log "$work/file/log.csv"
exit $failed
