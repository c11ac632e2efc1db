#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Alarms without a window while the session bus takes the connection and never answers: a fake
# bus that never speaks, then a stopped dbus-daemon. A replay raises an alarm and ends it every
# second. The rows must go on, one a second, without a gap; the run says once that the bus does
# not answer and, with more than 16 notifications waiting, which one it dropped; SIGTERM ends it
# with status 0. Last, a bus that goes away and comes back gets the notifications again.
# Usage: silent_bus.sh KELVANO SILENT_BUS_PY
set -u
kelvano=$1 fake=$2
tmp=$(mktemp -d)
bus_pid= kelvano_pid= monitor_pid=
cleanup() {
    for pid in $kelvano_pid $monitor_pid $bus_pid; do kill -CONT "$pid" && kill -9 "$pid"; done 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
failed=0
fail() {
    printf '%s\n' "$*"
    failed=1
}
export XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp/run" LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME/Corvanta"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[Settings]\nAlarm1HighOn="True"\nAlarm1High="60"\n' >"$XDG_CONFIG_HOME/Corvanta/Kelvano.conf"
# Sensor 1 at 75 °F and 50 °F in turn, 30 times: an event every second for a minute.
i=0
while [ $i -lt 30 ]; do
    printf '0 3000 31036\n0 5203 31036\n'
    i=$((i + 1))
done >"$tmp/replay"

# wait_for: until the command succeeds, at most 60 s however slow the machine.
wait_for() {
    i=0
    until "$@"; do
        i=$((i + 1))
        [ $i -lt 600 ] || return 1
        sleep 0.1
    done
}
rows() { [ -f "$tmp/log.csv" ] && echo $(($(wc -l <"$tmp/log.csv") - 1)) || echo 0; }
enough() { [ "$(rows)" -ge "$1" ]; }
said() { grep -qF "$1" "$tmp/stderr"; }

# silent WHAT N LINE...: runs the program on the replay with the bus named in
# DBUS_SESSION_BUS_ADDRESS until it wrote N rows and said each LINE on standard error; the rows'
# times follow each other second by second; SIGTERM ends it with status 0.
silent() {
    what=$1 n=$2
    shift 2
    rm -f "$tmp/log.csv"
    "$kelvano" --headless --replay "$tmp/replay" --log "$tmp/log.csv" --interval 1 \
        2>"$tmp/stderr" &
    kelvano_pid=$!
    if wait_for enough "$n"; then
        for line; do
            wait_for said "$line" || {
                fail "$what: not said: $line"
                break
            }
        done
    else
        fail "$what: $(rows) rows, waited for $n"
    fi
    kill -TERM $kelvano_pid
    wait_for sh -c "! kill -0 $kelvano_pid 2>/dev/null" || fail "$what: SIGTERM not handled"
    kill -9 $kelvano_pid 2>/dev/null
    wait $kelvano_pid
    status=$?
    kelvano_pid=
    [ $status -eq 0 ] || fail "$what: status $status after SIGTERM: $(cat "$tmp/stderr")"
    # A row is stamped when its timer fires: one that fires a few milliseconds late across a
    # second's edge makes a step of 2 s after one of 0 s. A tick held up by the bus makes more.
    tail -n +2 "$tmp/log.csv" | cut -d, -f2 | awk -F: -v what="$what" '
        { t = $1 * 3600 + $2 * 60 + $3 }
        NR > 1 && (t - last + 86400) % 86400 > 2 { print what ": a gap after " previous; bad = 1 }
        { last = t; previous = $0 }
        END { exit bad }' || failed=1
    [ "$(grep -c 'no desktop notifications' "$tmp/stderr")" -eq 1 ] ||
        fail "$what: the bus's silence not said once: $(grep -v '^[0-9]' "$tmp/stderr")"
}

python3 "$fake" "$tmp/fake-bus" >"$tmp/fake.out" &
bus_pid=$!
wait_for grep -q listening "$tmp/fake.out" || fail "the fake bus did not start"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/fake-bus"
silent "bus that never speaks" 25 \
    "kelvano: no desktop notifications: the session bus at $tmp/fake-bus does not answer" \
    "kelvano: desktop notification dropped, 16 newer ones wait for the session bus: Kelvano: Sensor 1 "
kill $bus_pid
wait $bus_pid 2>/dev/null
[ $failed -eq 0 ] || exit 1

cat >"$tmp/bus.conf" <<END
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$tmp/stopped-bus</listen>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
END
dbus-daemon --config-file="$tmp/bus.conf" --nofork --print-address >"$tmp/bus.out" 2>/dev/null &
bus_pid=$!
wait_for [ -s "$tmp/bus.out" ] || fail "dbus-daemon did not start"
kill -STOP $bus_pid
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/stopped-bus"
silent "stopped dbus-daemon" 8 \
    "kelvano: no desktop notifications: the session bus at $tmp/stopped-bus does not answer"
[ $failed -eq 0 ] || exit 1

# A bus that goes away and comes back at the same place: the notifications reach it again.
bus_up() {
    rm -f "$tmp/bus.out" "$tmp/stopped-bus"
    dbus-daemon --config-file="$tmp/bus.conf" --nofork --print-address >"$tmp/bus.out" \
        2>/dev/null &
    bus_pid=$!
    wait_for [ -s "$tmp/bus.out" ] || fail "dbus-daemon did not start"
    : >"$tmp/monitor"
    dbus-monitor --address "$DBUS_SESSION_BUS_ADDRESS" \
        "type='method_call',interface='org.freedesktop.Notifications'" >"$tmp/monitor" 2>&1 &
    monitor_pid=$!
}
notified() { grep -q 'member=Notify' "$tmp/monitor"; }
bus_down() {
    kill $monitor_pid $bus_pid
    wait $monitor_pid $bus_pid 2>/dev/null
    monitor_pid= bus_pid=
}
kill -CONT $bus_pid
bus_down
bus_up
"$kelvano" --headless --replay "$tmp/replay" --log "$tmp/log.csv" --interval 1 2>"$tmp/stderr" &
kelvano_pid=$!
wait_for notified || fail "no notification on the bus: $(cat "$tmp/monitor")"
bus_down
wait_for said "kelvano: no desktop notifications: " || fail "the bus gone not said"
bus_up
wait_for notified || fail "no notification once the bus is back: $(cat "$tmp/stderr")"
kill $kelvano_pid
wait $kelvano_pid
kelvano_pid=
exit $failed
