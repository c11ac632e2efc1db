// SPDX-License-Identifier: GPL-3.0-or-later

#include "sampling_cycle.h"

QString profilePlaceholder(int sensor) {
    return QStringLiteral("Select Sensor %1").arg(sensor);
}

QString sensorName(const Displays& displays, int sensor) {
    const QString& title = displays.title[sensor - 1];
    return title.isEmpty() || title == profilePlaceholder(sensor)
               ? QStringLiteral("Sensor %1").arg(sensor)
               : title;
}

bool SamplingCycle::probe(GamePortSource& source) {
    reading_.result = source.probeDevice();
    return reading_.result == PortCode::Ok;
}

void SamplingCycle::tick(GamePortSource& source, const std::array<ChannelInput, 2>& inputs) {
    // Port read: status line and both raw values, whatever the code.
    reading_.result = source.readAxes(reading_);
    PortStatus status = PortStatus::fromReadCode(reading_.result);
    displays_.axis = QString::number(reading_.x);
    displays_.yaxis = QString::number(reading_.y);

    // Conversion; a sensor that reads 0 overrides the port's status, and
    // sensor 2's override, written last, wins.
    const std::array<uint32_t, 2> raws = {reading_.x, reading_.y};
    for (int i = 0; i < 2; ++i) {
        const ChannelInput& in = inputs[i];
        ChannelReadout& out = readouts_[i];
        out.raw = raws[i];
        out.exactCelsius.reset();
        if (!isValidProfileCode(in.codes.profile))
            continue;
        convert(out, raws[i], coefficients_[i].of(in.coefficients));
        if (isUnplugged(raws[i])) // whatever the coefficients make of it
            status = PortStatus::sensorUnplugged(i + 1);
        displays_.title[i] = in.profileText;
    }
    displays_.status = status.text();

    // Offset, then unit, sensor 1 before sensor 2 in each step.
    std::array<std::optional<int16_t>, 2> adjusted;
    for (int i = 0; i < 2; ++i) {
        adjusted[i] = applyOffset(readouts_[i], inputs[i].codes.offset);
        if (auto& exact = readouts_[i].exactCelsius)
            *exact += offsetFromCode(inputs[i].codes.offset).value_or(0);
        if (offsetFromCode(inputs[i].codes.offset) && readouts_[i].graphValue)
            displays_.graph[i] = graphValueText(*readouts_[i].graphValue);
    }
    for (int i = 0; i < 2; ++i) {
        if (adjusted[i] && applyUnit(readouts_[i], *adjusted[i], inputs[i].codes.unit))
            displays_.temperature[i] = readouts_[i].text;
    }
}

const std::optional<CoefficientValues>&
SamplingCycle::ParsedCoefficients::of(const Coefficients& now) {
    if (!parsed || now.a != texts.a || now.b != texts.b || now.c != texts.c) {
        texts = now;
        values = parseCoefficients(now);
        parsed = true;
    }
    return values;
}
