#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# kelvano --headless --mqtt against real mosquitto brokers on loopback, each with its own
# configuration, read back with mosquitto_sub: discovery configs, states that agree with the log,
# an unplugged sensor, an alarm, Home Assistant's birth message, a broker restart, SIGKILL; a
# login with the right and a wrong password; TLS with the test's own certificate authority; a
# broker that takes the connection and never answers, while the rows keep their time.
# Usage: broker.sh KELVANO
set -u
kelvano=$1
. "$(dirname "$0")/../lib.sh"
tmp=$work
# The brokers, subscribers and runs started, killed at the end (a stopped broker too).
pids=
cleanup() {
    for pid in $pids; do kill -9 "$pid"; done 2>/dev/null
    rm -rf "$work"
}
export XDG_CONFIG_HOME="$tmp/config" HOME="$tmp" LANG=C.UTF-8 LC_ALL=C.UTF-8 TZ=UTC
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM KELVANO_MQTT_PASSWORD
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/kelvano-test-bus
mkdir -p "$XDG_CONFIG_HOME/Corvanta"
printf '[Settings]\nAlarm1HighOn="True"\nAlarm1High="60"\n' >"$XDG_CONFIG_HOME/Corvanta/Kelvano.conf"
# Sensor 1 at 75 °F, above its high limit; sensor 2 unplugged from the sixth read on.
printf '0 3000 31036\n0 3000 31036\n0 3000 31036\n0 3000 31036\n0 3000 31036\n0 3000 0\n' \
    >"$tmp/replay"

has() { grep -qF -- "$2" "$tmp/$1"; }
count() { grep -cF -- "$2" "$tmp/$1"; }
at_least() { [ "$(count "$1" "$2")" -ge "$3" ]; }

# broker NAME [CONFIG-LINE...]: starts mosquitto on a free loopback port ($port) with these
# lines in its configuration; $broker is its process, restart starts it again.
broker() {
    conf=$tmp/$1.conf
    shift
    tries=0
    while :; do
        port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 40000))
        {
            printf 'listener %s 127.0.0.1\npersistence false\nlog_type error\n' $port
            [ "$(id -u)" -eq 0 ] && echo 'user root' # to read the files in the test's folder
            printf '%s\n' "$@"
        } >"$conf"
        restart && return
        tries=$((tries + 1)) # the port was taken
        [ $tries -lt 5 ] || { fail "$conf: mosquitto does not start"; exit 1; }
    done
}
restart() {
    mosquitto -c "$conf" 2>>"$tmp/mosquitto.log" &
    broker=$!
    pids="$pids $broker"
    wait_for up && kill -0 $broker 2>/dev/null
}
# up: the broker takes messages, or has ended.
up() { pub -t kelvano/probe -m up 2>/dev/null || ! kill -0 $broker 2>/dev/null; }
# pub and sub: mosquitto_pub and _sub with the broker's address and $login.
pub() { mosquitto_pub -h 127.0.0.1 -p $port -q 1 $login "$@"; }
# subscribe FILE: "topic payload" lines of everything under kelvano/ and homeassistant/ into
# $tmp/FILE, once they come through.
subscribe() {
    mosquitto_sub -h 127.0.0.1 -p $port -q 1 $login -v -t 'kelvano/#' -t 'homeassistant/#' \
        >"$tmp/$1" &
    pids="$pids $!"
    wait_for sh -c "mosquitto_pub -h 127.0.0.1 -p $port $login -t kelvano/ready -m $1 &&
                    grep -q '^kelvano/ready $1' '$tmp/$1'" || fail "$1: no subscription"
}
# run NAME OPTION...: kelvano --headless on the replay with these options; $kelvano_pid.
run() {
    name=$1
    shift
    rm -f "$tmp/log.csv"
    "$kelvano" --headless --replay "$tmp/replay" --log "$tmp/log.csv" --interval 1 "$@" \
        2>"$tmp/$name.err" &
    kelvano_pid=$!
    pids="$pids $kelvano_pid"
}
# stop: SIGTERM ends the run with status 0.
stop() {
    kill -TERM $kelvano_pid
    wait $kelvano_pid
    status=$?
    [ $status -eq 0 ] || fail "$name: status $status after SIGTERM: $(cat "$tmp/$name.err")"
}
login=
PATH=$PATH:/usr/sbin

# An open broker.
broker open 'allow_anonymous true'
subscribe sub
run open --mqtt mqtt://127.0.0.1:$port --mqtt-id t1 --mqtt-interval 1
wait_for has sub '"sensor2":null' || fail "no state with sensor 2 unplugged: $(cat "$tmp/sub")"
wait_for has sub 'kelvano/t1/alarm {"sensor1":"high","sensor2":"off"}' ||
    fail "no alarm: $(grep alarm "$tmp/sub")"
has sub 'kelvano/t1/status online' || fail "not online"
for config in sensor/kelvano_t1/sensor1 sensor/kelvano_t1/sensor2 \
    binary_sensor/kelvano_t1/alarm1 binary_sensor/kelvano_t1/alarm2; do
    line=$(grep "^homeassistant/$config/config {" "$tmp/sub")
    for field in '"availability_topic":"kelvano/t1/status"' '"identifiers":["kelvano_t1"]' \
        '"unique_id":"kelvano_t1_' '"state_topic":"kelvano/t1/'; do
        case $line in *"$field"*) ;; *) fail "$config: no $field in: $line" ;; esac
    done
done
# The first state's temperatures are the first row's, in °F rounded as the log writes them.
state=$(grep -m 1 '^kelvano/t1/state ' "$tmp/sub")
wait_for [ -s "$tmp/log.csv" ]
wait_for sh -c "[ \$(wc -l <'$tmp/log.csv') -ge 2 ]"
row=$(sed -n 2p "$tmp/log.csv" | tr -d ' \r' | cut -d, -f3,4)
shown=$(printf '%s\n' "$state" | sed -E 's/.*"sensor1":\{"celsius":([-0-9.e]+).*"sensor2":\{"celsius":([-0-9.e]+).*/\1 \2/' |
    awk '{ printf "%.0f,%.0f", $1 * 9 / 5 + 32, $2 * 9 / 5 + 32 }')
[ "$shown" = "$row" ] || fail "state $state gives $shown, the log's row $row"

# Home Assistant's birth message brings the configs again.
pub -t homeassistant/status -m online
wait_for at_least sub 'homeassistant/sensor/kelvano_t1/sensor1/config' 2 ||
    fail "no configs after Home Assistant's birth"

# The broker restarted (its retained messages lost): online and the configs again.
kill $broker
wait $broker
wait_for has open.err 'MQTT: disconnected from' || fail "the broker's going not said"
restart
subscribe again
wait_for has again 'homeassistant/binary_sensor/kelvano_t1/alarm2/config {' ||
    fail "no configs after the broker's restart: $(cat "$tmp/open.err")"
has again 'kelvano/t1/status online' || fail "not online after the broker's restart"
has again 'kelvano/t1/state {' || fail "the latest state not published again"
[ "$(count open.err 'MQTT: connected to')" -eq 2 ] || fail "connected not said twice"

# SIGKILL: the broker publishes the last will.
kill -9 $kelvano_pid
wait_for has again 'kelvano/t1/status offline' || fail "no offline after SIGKILL"
kill $broker

# A broker with a password file: the right password from the environment connects; a wrong one
# is refused, said once, and the run goes on.
mosquitto_passwd -b -c "$tmp/passwords" kelvano right
login="-u kelvano -P right"
broker login 'allow_anonymous false' "password_file $tmp/passwords"
subscribe login
for password in right wrong; do
    KELVANO_MQTT_PASSWORD=$password run $password --mqtt mqtt://kelvano@127.0.0.1:$port --mqtt-id t2
    case $password in
    right) wait_for has right.err "MQTT: connected to mqtt://127.0.0.1:$port as kelvano/t2/" ;;
    wrong) wait_for has wrong.err "MQTT: mqtt://127.0.0.1:$port refused the connection: not authorised" &&
        wait_for sh -c "[ \$(wc -l <'$tmp/log.csv') -ge 4 ]" ;;
    esac || fail "$password password: $(cat "$tmp/$password.err")"
    stop
done
[ "$(count wrong.err 'refused')" -eq 1 ] || fail "the refusal said more than once"
# A clean end says "offline" itself.
has login 'kelvano/t2/status offline' || fail "no offline after SIGTERM"
has right.err "MQTT: disconnected from mqtt://127.0.0.1:$port: stopped" || fail "stop not said"
kill $broker

# TLS, with a certificate authority of the test's own, and the broker's certificate for 127.0.0.1.
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
printf 'subjectAltName=IP:127.0.0.1\n' >"$tmp/ext"
{
    openssl req -x509 -days 2 -subj /CN=Test $key -keyout "$tmp/ca.key" -out "$tmp/ca.crt" &&
        openssl req -subj /CN=127.0.0.1 $key -keyout "$tmp/server.key" -out "$tmp/server.csr" &&
        openssl x509 -req -days 2 -in "$tmp/server.csr" -CA "$tmp/ca.crt" -CAkey "$tmp/ca.key" \
            -CAcreateserial -extfile "$tmp/ext" -out "$tmp/server.crt"
} >/dev/null 2>&1 || fail "openssl could not make the certificates"
login="--cafile $tmp/ca.crt"
broker tls 'allow_anonymous true' "cafile $tmp/ca.crt" "certfile $tmp/server.crt" \
    "keyfile $tmp/server.key"
run tls --mqtt mqtts://127.0.0.1:$port --mqtt-ca "$tmp/ca.crt" --mqtt-id t3
wait_for has tls.err "MQTT: connected to mqtts://127.0.0.1:$port" || fail "TLS: $(cat "$tmp/tls.err")"
stop
run untrusted --mqtt mqtts://127.0.0.1:$port --mqtt-id t3
wait_for has untrusted.err "MQTT: cannot reach mqtts://127.0.0.1:$port: " ||
    fail "a certificate the system does not trust: $(cat "$tmp/untrusted.err")"
stop
kill $broker
login=

# A broker that takes the connection and never answers (stopped): the run gives up on it after
# 10 s, and meanwhile a row every second, each a second after the one before (one stamped a few
# milliseconds late across a second's edge makes a step of 2 s after one of 0 s).
broker silent 'allow_anonymous true'
kill -STOP $broker
run silent --mqtt mqtt://127.0.0.1:$port --mqtt-id t4
wait_for has silent.err "MQTT: mqtt://127.0.0.1:$port did not answer within 10 s" &&
    wait_for sh -c "[ \$(wc -l <'$tmp/log.csv') -ge 14 ]" || fail "silent: $(cat "$tmp/silent.err")"
stop
tail -n +2 "$tmp/log.csv" | cut -d, -f2 | awk -F: '
    { t = $1 * 3600 + $2 * 60 + $3 }
    NR > 1 && (t - last + 86400) % 86400 > 2 { print "silent broker: a gap after " previous; bad = 1 }
    { last = t; previous = $0 }
    END { exit bad }' || failed=1
exit $failed
