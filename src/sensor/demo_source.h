// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "game_port.h"

// Two simulated thermistors for trying the program without hardware: sensor 1
// drifts around 21 °C, sensor 2 around 8 °C, a few degrees over minutes. The
// raw values are those that the initial coefficients turn back into those
// temperatures. Deterministic: the same start second gives the same sequence.
class DemoSource : public GamePortSource {
  public:
    explicit DemoSource(unsigned startSecond = 0) : second_(startSecond) {}

    int32_t probeDevice() override { return PortCode::Ok; }
    int32_t readAxes(PortReading& reading) override;

    // The simulated temperature of a sensor at a given second, in °C.
    static double temperatureAt(int sensor, unsigned second);
    // The raw value that the sensor's initial coefficients convert to celsius.
    static uint32_t rawFor(int sensor, double celsius);

  private:
    unsigned second_;
};
