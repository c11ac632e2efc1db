#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Alarms as the desktop shows them. The program replays a sensor that crosses its high limit and
# comes back; a real notification service (dunst, on an X display and a session bus of the test's
# own) must hold one notification per crossing, critical for the alarm, normal for the return, with
# the program's icon, although the alarm command cannot start. Without a service each event is a
# line on standard error.
# Usage: notifications.sh KELVANO SOURCE_DIR   (needs xvfb-run, dbus-run-session, dunst)
set -u
kelvano=$1 source=$2
if [ -z "${KELVANO_PRIVATE_SESSION:-}" ]; then
    # A session bus that starts no service by itself: the test starts the one it wants.
    bus=$(mktemp)
    cat >"$bus" <<'END'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
END
    KELVANO_PRIVATE_SESSION=1 timeout 150 xvfb-run -a -s "-screen 0 640x480x24" \
        dbus-run-session --config-file="$bus" -- sh "$0" "$@"
    status=$?
    rm -f "$bus"
    exit $status
fi

. "$(dirname "$0")/../lib.sh"
dunst_pid= kelvano_pid=
running="kelvano_pid dunst_pid"

# Sensor 1, profile "Freezer", reads 50 °F, twice 75 °F, then 50 °F again (the last read repeats).
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$XDG_CONFIG_HOME/Corvanta"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cat >"$XDG_CONFIG_HOME/Corvanta/Kelvano.conf" <<EOF
[Settings]
cboThermList1="0"
Sensor1-1%20Name="Freezer"
Alarm1HighOn="True"
Alarm1High="60"
AlarmCommand="'$work/no such command' --now"
EOF
printf 'probe 0\n0 5203 31036\n0 3000 31036\n0 3000 31036\n0 5203 31036\n' >"$work/replay"

cat >"$work/dunstrc" <<EOF
[global]
    icon_path = $source/data/icons/hicolor/48x48/apps
[urgency_normal]
    timeout = 7
[urgency_critical]
    timeout = 0
EOF
dunst -conf "$work/dunstrc" >"$work/dunst.log" 2>&1 &
dunst_pid=$!
service_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
        grep -q true
}
wait_for service_up || fail "dunst did not start: $(cat "$work/dunst.log")"

# Runs the program on the replay until both events ran the command (which cannot start) and, with
# a notification service, the desktop holds $notes notifications in all; in a run that logs, until
# three more rows show that the replay's last read, repeated, gives no event. Then ends it. The
# dated alarm lines it wrote (not the port status or where it logs) go to $work/lines, the
# history's notifications to $work/history, each as "summary | body | icon | timeout" (7 s normal,
# 0 critical), oldest first.
both_events() { [ "$(grep -c 'could not start' "$work/stderr")" -ge 2 ]; }
notifications() {
    [ $(($(dunstctl count waiting) + $(dunstctl count displayed) + $(dunstctl count history))) \
        -ge "$notes" ]
}
rows() { [ "$(wc -l <"$log")" -ge "$1" ]; }
run() {
    : >"$work/stderr" # emptied before the start: the polls must see this run's lines only
    "$@" --replay "$work/replay" 2>"$work/stderr" &
    kelvano_pid=$!
    wait_for both_events || fail "$*: no two events: $(cat "$work/stderr")"
    [ -z "$dunst_pid" ] || wait_for notifications || fail "$*: not $notes notifications"
    case " $* " in
    *" --log "*) wait_for rows $(($(wc -l <"$log") + 3)) || fail "$*: no rows after the events" ;;
    esac
    kill "$kelvano_pid"
    wait "$kelvano_pid" 2>/dev/null
    kelvano_pid=
    grep -E '^[0-9-]{10}T[0-9:]{8}[-+Z]' "$work/stderr" | cut -d' ' -f2- |
        grep -v -e 'port status' -e '^logging to ' |
        sed -E 's/since [0-9]{2}:[0-9]{2}:[0-9]{2}/since TIME/' >"$work/lines"
    [ -n "$dunst_pid" ] || return 0
    dunstctl close-all # shown notifications reach the history when closed
    dunstctl history | awk '
        /"(summary|body|icon_path|timeout)" :/ { field = $1; gsub(/"/, "", field) }
        /"data" :/ && field != "" {
            sub(/^[^:]*: /, ""); gsub(/^"|"$/, ""); value[field] = $0; field = ""
            if ("summary" in value && "body" in value && "icon_path" in value && "timeout" in value) {
                line[n++] = value["summary"] " | " value["body"] " | " value["icon_path"] " | " value["timeout"]
                delete value
            }
        }
        END { for (i = n - 1; i >= 0; i--) print line[i] }' |
        sed -E 's/since [0-9]{2}:[0-9]{2}:[0-9]{2}/since TIME/' >"$work/history"
}
icon="$source/data/icons/hicolor/48x48/apps/io.github.corvanta.Kelvano.png"
cat >"$work/want" <<EOF
Kelvano: Sensor 1 high | Freezer: 75°F, above the high limit of 60°F since TIME. | $icon | 0
Kelvano: Sensor 1 back to normal | Freezer: 50°F, back below the high limit of 60°F (alarm since TIME). | $icon | 7000000
EOF
cut -d'|' -f1-2 "$work/want" | sed -E 's/ \| /: /; s/ $//' >"$work/want-lines"
log="$work/log.csv"

# The window: the notifications, and no line.
notes=2
run "$kelvano"
diff "$work/want" "$work/history" || fail "window: notifications differ (- wanted, + shown)"
program="$work/no such command" # named by its first 40 characters
[ ${#program} -le 40 ] || program="$(printf %s "$program" | cut -c1-40)…"
grep -qF "kelvano: alarm command \"$program\" could not start: " "$work/stderr" ||
    fail "no report of the command that cannot start: $(cat "$work/stderr")"
diff /dev/null "$work/lines" || fail "window: lines although the notifications went out"

# Without a window: the notifications and a line for each event.
notes=4
run "$kelvano" --headless --log "$log"
cat "$work/want" "$work/want" | diff - "$work/history" || fail "headless: notifications differ"
diff "$work/want-lines" "$work/lines" || fail "headless: lines differ (- wanted, + written)"

# Without a window and with no session bus named: no notification; the lines.
run env -u DBUS_SESSION_BUS_ADDRESS "$kelvano" --headless --log "$log"
cat "$work/want" "$work/want" | diff - "$work/history" || fail "headless, no bus: a notification"
diff "$work/want-lines" "$work/lines" || fail "headless, no bus: lines differ"

# The window with no notification service and no tray: the lines.
kill "$dunst_pid"
wait "$dunst_pid" 2>/dev/null
dunst_pid=
run "$kelvano"
diff "$work/want-lines" "$work/lines" || fail "window, no service: lines differ"
exit $failed
