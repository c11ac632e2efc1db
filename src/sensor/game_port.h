// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <cstdint>

// Result codes of a game-port probe or read. They keep the numbers of the
// classic joystick service so that a code shown on the status line means the
// same thing on every platform.
namespace PortCode {
constexpr int32_t Ok = 0;
constexpr int32_t NoDevice = 165; // bad parameters / no such device
constexpr int32_t Unplugged = 167;
} // namespace PortCode

// The long-lived record of the game port: the code of the last probe or read
// and the last axis positions that a read wrote. A failed read may leave x
// and y alone; the rest of the tick then works on the previous values.
struct PortReading {
    int32_t result = 0;
    uint32_t x = 0; // sensor 1
    uint32_t y = 0; // sensor 2
};

// Where readings come from: a real joystick, a replayed script or the demo.
class GamePortSource {
  public:
    virtual ~GamePortSource() = default;
    // 0 when a game-port device is present.
    virtual int32_t probeDevice() = 0;
    // 0 when x and y are fresh; 167 when unplugged; anything else is a read error.
    virtual int32_t readAxes(PortReading& reading) = 0;
};

// What the status line says.
struct PortStatus {
    enum Kind { NotYetRead, Connected, Unplugged, ReadError, Sensor1Unplugged, Sensor2Unplugged };
    Kind kind = NotYetRead;
    int32_t code = 0; // only meaningful for ReadError

    static PortStatus fromReadCode(int32_t code);
    static PortStatus sensorUnplugged(int sensor); // sensor is 1 or 2
    QString text() const;
};

// A raw axis value below 1 means the thermistor is not connected.
inline bool isUnplugged(uint32_t raw) {
    return raw < 1;
}
