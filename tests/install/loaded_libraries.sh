#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# A run loads only what it uses: the runs without a window map no widget, drawing or plot
# library, nor any D-Bus library while no desktop notification is sent, and the main window maps
# the plot library only once a history window opens; only a run with --metrics maps the network
# and HTTP libraries, and only a run with --mqtt the MQTT and TLS libraries.
# Usage: loaded_libraries.sh KELVANO
set -u
kelvano=$1
. "$(dirname "$0")/../lib.sh"
pid=
running=pid
export HOME="$work" XDG_CONFIG_HOME="$work/config"
unused='libQt6(Widgets|Gui|Svg|PrintSupport|DBus)|libQCustomPlot|libkelvano-(window|history|bus)'
plot='libQt6PrintSupport|libQCustomPlot|libkelvano-history'
broker='libmosquitto|libssl|libkelvano-mqtt'
network='libQt6(Network|HttpServer)|libkelvano-metrics'
images='libQt6Svg|libq(svg|gif|ico|jpeg)\.so'

# mapped PID: the libraries the running process PID has mapped, one name a line.
mapped() { grep -oE '[^/ ]+\.so[.0-9]*$' "/proc/$1/maps" | sort -u; }
# until_mapped PID NAME: until PID maps NAME.
maps() { mapped "$1" | grep -q "$2"; }
until_mapped() { wait_for maps "$1" "$2" || fail "$2 never mapped: $(mapped "$1" | tr '\n' ' ')"; }
# until_idle PID: until the main thread of PID waits for events, its window made.
idle() { grep -q poll "/proc/$1/wchan"; }
until_idle() { wait_for idle "$1" || fail "kelvano never waited for events"; }

# Runs that end at once: every library the loader opens, as it reports them.
printf 'probe 165\n' >"$work/no-device"
for run in "--version" "--help" "--list-devices" "--history $work/none.csv" \
    "--headless --replay $work/no-device --log $work/log.csv"; do
    # shellcheck disable=SC2086 # the words of each run are split on purpose
    loaded=$(LD_DEBUG=files "$kelvano" $run 2>&1 >/dev/null | grep -oE 'file=[^ ]+' | sort -u)
    [ -n "$loaded" ] || fail "kelvano $run: the loader reported nothing"
    printf '%s\n' "$loaded" | grep -E "$unused|$broker|$network" && fail "kelvano $run maps the libraries above"
done

# The headless run, while it logs.
printf '0 5203 31036\n' >"$work/replay"
"$kelvano" --headless --replay "$work/replay" --log "$work/log.csv" --interval 1 2>/dev/null &
pid=$!
until_mapped $pid libkelvano-core
mapped $pid | grep -E "$unused|$broker|$network" && fail "the headless run maps the libraries above"
kill $pid
pid=""

# With --mqtt (no broker there), the broker's libraries, and still no window.
"$kelvano" --headless --replay "$work/replay" --log "$work/log.csv" --mqtt mqtt://127.0.0.1:1 \
    2>/dev/null &
pid=$!
until_mapped $pid libmosquitto
mapped $pid | grep -E "$unused|$network" && fail "the headless run with --mqtt maps the libraries above"
kill $pid
pid=""

# The main window, offscreen: widgets, but no plot until a history window opens, and no image
# plugin while it shows no image.
QT_QPA_PLATFORM=offscreen "$kelvano" --replay "$work/replay" 2>/dev/null &
pid=$!
until_mapped $pid libkelvano-window
until_idle $pid
mapped $pid | grep -E "$plot|$network|$images" && fail "the main window maps the libraries above"
exit $failed
