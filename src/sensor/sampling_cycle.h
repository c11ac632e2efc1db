// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "conversion.h"
#include "game_port.h"

#include <QString>
#include <array>

// What one sensor's settings are at the moment of a tick: the codes, the
// coefficient texts and the text of the profile chooser.
struct ChannelInput {
    ChannelSettings codes;
    Coefficients coefficients;
    QString profileText;
};

// The texts the main window shows, as the latest tick left them.
struct Displays {
    QString status = PortStatus().text();
    QString axis;  // sensor 1 raw value
    QString yaxis; // sensor 2 raw value
    std::array<QString, 2> title = {QStringLiteral("Sensor 1"), QStringLiteral("Sensor 2")};
    std::array<QString, 2> temperature;                                        // lblTemp1, lblTemp2
    std::array<QString, 2> graph = {QStringLiteral("x"), QStringLiteral("y")}; // lblG1, lblG2
};

// The text of a sensor's profile chooser while no profile is chosen; the
// window shows it as the sensor's title.
QString profilePlaceholder(int sensor);
// A sensor's name in messages and on the metrics page: its title, but
// "Sensor 2" rather than the chooser's placeholder while no profile is chosen.
QString sensorName(const Displays& displays, int sensor);

// The once-a-second sampling tick: reads the port, converts both sensors
// with their current settings and leaves the results for the window, the log
// and the graph.
class SamplingCycle {
  public:
    // The start-up device check; true when a device is present.
    bool probe(GamePortSource& source);
    void tick(GamePortSource& source, const std::array<ChannelInput, 2>& inputs);

    const Displays& displays() const { return displays_; }
    const ChannelReadout& readout(int sensor) const { return readouts_[sensor - 1]; }
    const PortReading& reading() const { return reading_; }

  private:
    // A sensor's coefficient texts with their numbers. The texts rarely change and the tick runs
    // every second, so they are parsed again only when one of them changes.
    struct ParsedCoefficients {
        const std::optional<CoefficientValues>& of(const Coefficients& texts);

        bool parsed = false;
        Coefficients texts;
        std::optional<CoefficientValues> values;
    };

    PortReading reading_;
    std::array<ParsedCoefficients, 2> coefficients_;
    std::array<ChannelReadout, 2> readouts_;
    Displays displays_;
};
