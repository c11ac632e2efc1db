// SPDX-License-Identifier: GPL-3.0-or-later
#include "station.h"

#include <QTimer>

Station::Station(std::unique_ptr<GamePortSource> source, AlarmMonitor::Mode mode, QObject* parent)
    : QObject(parent), source_(std::move(source)), alarms_(mode, this), timer_(new QTimer(this)) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &Station::tick);
}

bool Station::start() {
    timer_->stop();
    if (!cycle_.probe(*source_))
        return false;
    const StoredSettings stored(store_);
    settings_.load(stored);
    alarms_.load(&store_, stored, units());
    timer_->start();
    return true;
}

void Station::stop() {
    timer_->stop();
}

void Station::tick() {
    cycle_.tick(*source_, {settings_.channelInput(1), settings_.channelInput(2)});
    if (const QString& status = cycle_.displays().status; status != lastStatus_) {
        lastStatus_ = status;
        Q_EMIT statusChanged(status);
    }
    alarms_.feed(cycle_, units());
    Q_EMIT ticked();
}

std::array<TemperatureUnit, 2> Station::units() const {
    return {settings_.sensor(1).codes.unit, settings_.sensor(2).codes.unit};
}
