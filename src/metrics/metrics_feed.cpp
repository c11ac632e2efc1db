// SPDX-License-Identifier: GPL-3.0-or-later
// The metrics library's entries: the address check before a run starts, and the page that
// listens to the station.
#include "metrics_module.h"

#include "alarms/alarm_monitor.h"
#include "metrics/metrics_server.h"
#include "station/station.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkInterface>

namespace {

// The alarm limits switched on, each with whether it is in alarm.
std::vector<AlarmLimitState> alarmStates(const AlarmMonitor& monitor) {
    std::vector<AlarmLimitState> states;
    const AlarmSettings settings = monitor.settings();
    for (int sensor : {1, 2}) {
        const AlarmLimits& limits = settings.sensors[sensor - 1];
        if (limits.highOn)
            states.push_back(
                {sensor, QStringLiteral("high"), monitor.inAlarm(sensor, AlarmCondition::High)});
        if (limits.lowOn)
            states.push_back(
                {sensor, QStringLiteral("low"), monitor.inAlarm(sensor, AlarmCondition::Low)});
    }
    return states;
}

// The endpoint and the state it answers from, republished after each of the station's ticks.
class MetricsPage : public QObject {
  public:
    explicit MetricsPage(bool broker) {
        state_.version = QCoreApplication::applicationVersion();
        if (broker)
            state_.mqttConnected = false;
    }

    bool start(const ListenAddress& where, Station* station, QString* error) {
        if (!server_.start(where, error))
            return false;
        server_.publish(state_);
        connect(station, &Station::ticked, this, [this, station] {
            state_.record(station->cycle(), QDateTime::currentMSecsSinceEpoch());
            state_.alarms = alarmStates(station->alarms());
            server_.publish(state_);
        });
        return true;
    }

    void showBroker(bool connected) {
        state_.mqttConnected = connected;
        server_.publish(state_);
    }

  private:
    MetricsState state_;
    MetricsServer server_;
};

// The address, read and checked: nothing, with the user's message in *error, when it is
// malformed or is no address of this computer.
std::optional<ListenAddress> checkedAddress(const QString& text, QString* error) {
    std::optional<ListenAddress> where = parseListenAddress(text, error);
    if (!where)
        return where;
    // The system lets a server listen on a group or broadcast address, where no connection ever
    // arrives: these are not addresses of this computer either.
    const QHostAddress& address = where->address;
    bool broadcast = address.isBroadcast();
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            broadcast = broadcast || entry.broadcast() == address;
    if (!address.isMulticast() && !broadcast)
        return where;
    *error = QStringLiteral("kelvano: cannot serve metrics on %1: %2 is a %3 address, not an "
                            "address of this computer")
                 .arg(addressText(address, where->port), address.toString(),
                      broadcast ? QStringLiteral("broadcast") : QStringLiteral("multicast"));
    return std::nullopt;
}

} // namespace

extern "C" bool kelvano_metrics_check(const QString* address, QString* error) {
    return checkedAddress(*address, error).has_value();
}

extern "C" QObject* kelvano_metrics_serve(const MetricsStart* start,
                                          std::function<void(bool)>* brokerShown, QString* error) {
    // The run checked the address before it started.
    const std::optional<ListenAddress> where = parseListenAddress(start->address, error);
    if (!where)
        return nullptr;
    auto page = std::make_unique<MetricsPage>(start->broker);
    if (!page->start(*where, start->station, error))
        return nullptr;
    if (start->broker)
        *brokerShown = [page = page.get()](bool connected) { page->showBroker(connected); };
    return page.release();
}
