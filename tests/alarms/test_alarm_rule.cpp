// SPDX-License-Identifier: GPL-3.0-or-later
// The limit rule: readings second by second, the events they cause.

#include "alarms/alarm_rule.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {
constexpr qint64 base = 1'800'000'000'000; // wall clock of the first tick

AlarmLimits high(double limit, double hysteresis = 1, int hold = 0) {
    return {true, limit, false, 0, hysteresis, hold};
}
AlarmLimits low(double limit, double hysteresis = 1, int hold = 0) {
    return {false, 0, true, limit, hysteresis, hold};
}

QString text(const AlarmEvent& e) {
    static const char* const kinds[] = {"high", "low", "unplugged", "normal", "test"};
    static const char* const conditions[] = {"high", "low", "unplugged"};
    QString t = QStringLiteral("%1 %2").arg((e.atMs - base) / 1000).arg(kinds[e.kind]);
    if (e.kind == AlarmEvent::Normal)
        t += QStringLiteral("/") + conditions[int(e.condition)] + (e.switchedOff ? " off" : "");
    if (e.value)
        t += QStringLiteral(" ") + numberText(*e.value);
    if (e.limit)
        t += QStringLiteral("/") + numberText(*e.limit) + unitCode(e.unit);
    return t + QStringLiteral(" @%1").arg((e.startedMs - base) / 1000);
}

// Feeds sensor 1 one token a second: a reading, "u" unplugged, "x" a failed read; "C"/"F" change
// the unit, "H<n>" the high limit, "H" gives the limits again as shown, "off" switches them off.
// Returns the events and the seconds in alarm.
std::pair<QString, QString> run(AlarmRule& rule, const char* ticks) {
    QStringList events, alarmed;
    qint64 second = 0;
    for (const QString& token : QString::fromLatin1(ticks).split(u' ')) {
        if (token == QLatin1String("C") || token == QLatin1String("F")) {
            rule.setUnit(1, *unitFromCode(token));
            continue;
        }
        if (token.startsWith(u'H') || token == QLatin1String("off")) {
            AlarmLimits l = rule.limits(1);
            if (token.size() > 1 && token[0] == u'H')
                l.high = token.mid(1).toDouble();
            if (token == QLatin1String("off"))
                l.highOn = l.lowOn = false;
            rule.setLimits(1, l, rule.unit(1));
            continue;
        }
        AlarmSample sample;
        if (token == QLatin1String("u"))
            sample.kind = AlarmSample::Unplugged;
        else if (token != QLatin1String("x"))
            sample = {AlarmSample::Value, token.toDouble()};
        // Sensor 2 reads 0 all along and has no limit: it never has an event.
        for (const AlarmEvent& e :
             rule.feed({second * 1000, base + second * 1000}, {sample, {AlarmSample::Value, 0}}))
            events << text(e);
        if (rule.inAlarm(1))
            alarmed << QString::number(second);
        ++second;
    }
    return {events.join(QStringLiteral(", ")), alarmed.join(u' ')};
}
} // namespace

TEST(AlarmRule, ReadingsToEvents) {
    // What the case shows, sensor 1's limits and unit, the ticks, the events, the seconds in alarm.
    using Case = std::tuple<const char*, AlarmLimits, char, const char*, const char*, const char*>;
    const Case cases[] = {
        {"at the limit is no alarm, one degree past it is; back below limit - hysteresis ends it",
         high(25), 'F', "25 26 24 23", "1 high 26/25F @1, 3 normal/high 23/25F @1", "1 2"},
        {"a reading wiggling around the limit: one alarm, one normal", high(25, 2), 'F',
         "24 26 25 26 24 25 26 23 22 24 25", "1 high 26/25F @1, 8 normal/high 22/25F @1",
         "1 2 3 4 5 6 7"},
        {"low limit and its hysteresis", low(0, 1), 'C', "1 0 -1 0 1 2 -1",
         "2 low -1/0C @2, 5 normal/low 2/0C @2, 6 low -1/0C @6", "2 3 4 6"},
        {"hold time: past for 3 s; a reading back in starts the count again", high(25, 1, 3), 'F',
         "26 26 25 26 26 26 26 20", "6 high 26/25F @3, 7 normal/high 20/25F @3", "6"},
        {"high and low at once: one jump ends one and starts the other",
         {true, 30, true, 10, 2, 0},
         'F',
         "20 31 5 20 9 12 13",
         "1 high 31/30F @1, 2 normal/high 5/30F @1, 2 low 5/10F @2, 3 normal/low 20/10F @2, "
         "4 low 9/10F @4, 6 normal/low 13/10F @4",
         "1 2 4 5"},
        {"failed reads neither start nor end an alarm nor break the hold", high(25, 1, 2), 'F',
         "26 x 26 x x 20", "2 high 26/25F @0, 5 normal/high 20/25F @0", "2 3 4"},
        {"unplugged during an alarm: the alarm stays, shorter than the hold is no event",
         high(25, 1, 2), 'F', "30 30 30 u u 30 20", "2 high 30/25F @0, 6 normal/high 20/25F @0",
         "2 3 4 5"},
        {"unplugged for the hold time is an event; new limits keep it; a reading ends it",
         low(0, 1, 2), 'F', "5 u x u H5 u 5", "3 unplugged @1, 5 normal/unplugged 5 @1", "3 4"},
        {"unplugged with no limit on is nothing", AlarmLimits(), 'F', "u u u", "", ""},
        {"a unit change converts the limit and hysteresis; back, even after the limits are given "
         "again as shown, gives the typed number",
         high(78, 1.8), 'F', "70 79 C H 26 25 24 F 78 79",
         "1 high 79/78F @1, 4 normal/high 24/25.56C @1, 6 high 79/78F @6", "1 2 3 6"},
        {"new limits are judged at the next reading: an alarm they end has its event, also when "
         "its limit is switched off",
         high(25), 'F', "26 H25 26 H26 26 H30 26 31 off 31 32",
         "0 high 26/25F @0, 3 normal/high 26/30F @0, 4 high 31/30F @4, 5 normal/high off 31 @4",
         "0 1 2 4"},
        {"limits switched off while unplugged: the alarm ends at the next read, not at the plug",
         low(0, 1, 1), 'F', "u u off u 5", "1 unplugged @0, 2 normal/unplugged off @0", "1"},
    };
    for (const auto& [name, limits, unit, ticks, wanted, inAlarm] : cases) {
        AlarmRule rule;
        rule.setLimits(1, limits, *unitFromCode(QString(QLatin1Char(unit))));
        const auto [events, alarmed] = run(rule, ticks);
        EXPECT_EQ(events.toStdString(), wanted) << name;
        EXPECT_EQ(alarmed.toStdString(), inAlarm) << name;
    }
}
