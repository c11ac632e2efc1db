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
. "$(dirname "$0")/../lib.sh"
bus_pid= kelvano_pid= monitor_pid=
running="kelvano_pid monitor_pid bus_pid"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
mkdir -p "$XDG_CONFIG_HOME/Corvanta"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[Settings]\nAlarm1HighOn="True"\nAlarm1High="60"\n' >"$XDG_CONFIG_HOME/Corvanta/Kelvano.conf"
# Sensor 1 at 75 °F and 50 °F in turn, 30 times: an event every second for a minute.
i=0
while [ $i -lt 30 ]; do
    printf '0 3000 31036\n0 5203 31036\n'
    i=$((i + 1))
done >"$work/replay"

rows() { [ -f "$work/log.csv" ] && echo $(($(wc -l <"$work/log.csv") - 1)) || echo 0; }
enough() { [ "$(rows)" -ge "$1" ]; }
said() { grep -qF "$1" "$work/stderr"; }

# silent WHAT N LINE...: runs the program on the replay with the bus named in
# DBUS_SESSION_BUS_ADDRESS until it wrote N rows and said each LINE on standard error; the rows'
# times follow each other second by second; SIGTERM ends it with status 0.
silent() {
    what=$1 n=$2
    shift 2
    rm -f "$work/log.csv"
    "$kelvano" --headless --replay "$work/replay" --log "$work/log.csv" --interval 1 \
        2>"$work/stderr" &
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
    [ $status -eq 0 ] || fail "$what: status $status after SIGTERM: $(cat "$work/stderr")"
    # A row is stamped when its timer fires: one that fires a few milliseconds late across a
    # second's edge makes a step of 2 s after one of 0 s. A tick held up by the bus makes more.
    tail -n +2 "$work/log.csv" | cut -d, -f2 | awk -F: -v what="$what" '
        { t = $1 * 3600 + $2 * 60 + $3 }
        NR > 1 && (t - last + 86400) % 86400 > 2 { print what ": a gap after " previous; bad = 1 }
        { last = t; previous = $0 }
        END { exit bad }' || failed=1
    [ "$(grep -c 'no desktop notifications' "$work/stderr")" -eq 1 ] ||
        fail "$what: the bus's silence not said once: $(grep -v '^[0-9]' "$work/stderr")"
}

python3 "$fake" "$work/fake-bus" >"$work/fake.out" &
bus_pid=$!
wait_for grep -q listening "$work/fake.out" || fail "the fake bus did not start"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/fake-bus"
silent "bus that never speaks" 25 \
    "kelvano: no desktop notifications: the session bus at $work/fake-bus does not answer" \
    "kelvano: desktop notification dropped, 16 newer ones wait for the session bus: Kelvano: Sensor 1 "
kill $bus_pid
wait $bus_pid 2>/dev/null
[ $failed -eq 0 ] || exit 1

cat >"$work/bus.conf" <<END
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/stopped-bus</listen>
  <policy context="default">
    <allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/>
  </policy>
</busconfig>
END
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address >"$work/bus.out" 2>/dev/null &
bus_pid=$!
wait_for [ -s "$work/bus.out" ] || fail "dbus-daemon did not start"
kill -STOP $bus_pid
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/stopped-bus"
silent "stopped dbus-daemon" 8 \
    "kelvano: no desktop notifications: the session bus at $work/stopped-bus does not answer"
[ $failed -eq 0 ] || exit 1

# A bus that goes away and comes back at the same place: the notifications reach it again.
bus_up() {
    rm -f "$work/bus.out" "$work/stopped-bus"
    dbus-daemon --config-file="$work/bus.conf" --nofork --print-address >"$work/bus.out" \
        2>/dev/null &
    bus_pid=$!
    wait_for [ -s "$work/bus.out" ] || fail "dbus-daemon did not start"
    : >"$work/monitor"
    dbus-monitor --address "$DBUS_SESSION_BUS_ADDRESS" \
        "type='method_call',interface='org.freedesktop.Notifications'" >"$work/monitor" 2>&1 &
    monitor_pid=$!
}
notified() { grep -q 'member=Notify' "$work/monitor"; }
bus_down() {
    kill $monitor_pid $bus_pid
    wait $monitor_pid $bus_pid 2>/dev/null
    monitor_pid= bus_pid=
}
kill -CONT $bus_pid
bus_down
bus_up
"$kelvano" --headless --replay "$work/replay" --log "$work/log.csv" --interval 1 2>"$work/stderr" &
kelvano_pid=$!
wait_for notified || fail "no notification on the bus: $(cat "$work/monitor")"
bus_down
wait_for said "kelvano: no desktop notifications: " || fail "the bus gone not said"
bus_up
wait_for notified || fail "no notification once the bus is back: $(cat "$work/stderr")"
kill $kelvano_pid
wait $kelvano_pid
kelvano_pid=
exit $failed
