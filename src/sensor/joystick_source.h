// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "game_port.h"

#include <QString>
#include <vector>

struct _SDL_Joystick;

// One joystick as SDL sees it at the moment of asking.
struct JoystickInfo {
    int index = 0; // SDL's device index, counted from 0
    QString name;
    int axes = 0;
    QString guid; // 32 hex digits, the same each time the device is plugged in
};

// "1: Name, 2 axes, GUID 03000000..." — one line of the device list.
QString deviceLine(const JoystickInfo& device);

// The joystick that a user-given ID names: its index, its GUID (any case), or a part of its name
// (any case) that no other joystick's name holds. Returns its position in devices; -1 when the ID
// names none or several, and *error then says so and lists every joystick.
int findDevice(const std::vector<JoystickInfo>& devices, const QString& id, QString* error);

// The joystick read when the user names none: the first that has both axes, since a device with
// fewer cannot carry two sensors. -1 when there is none.
int firstUsableDevice(const std::vector<JoystickInfo>& devices);

// Reads one joystick through SDL 2's joystick subsystem: axis 0 is sensor 1, axis 1 is sensor 2,
// raw value = SDL axis value + 32768. Unless choose() picked one, that is the first joystick
// with two axes. Once open, the source follows that device by its GUID: when it goes away, every
// read gives 167, even while other joysticks stay, until a joystick with the same GUID is plugged
// in again; the next read then opens it and reads it.
class JoystickSource : public GamePortSource {
  public:
    JoystickSource();
    ~JoystickSource() override;
    JoystickSource(const JoystickSource&) = delete;
    JoystickSource& operator=(const JoystickSource&) = delete;

    // False when SDL could not be loaded or started: then there never is a joystick.
    bool isAvailable() const { return initialised_; }
    // Every joystick plugged in now, in SDL's order.
    std::vector<JoystickInfo> devices();
    // Reads this device from the next probe or read on.
    void choose(const JoystickInfo& device);

    int32_t probeDevice() override;
    int32_t readAxes(PortReading& reading) override;

  private:
    int chosenIndex();
    bool openChosen();
    void close();

    bool initialised_ = false;
    _SDL_Joystick* joystick_ = nullptr;
    QString guid_;            // the device followed; empty until one is chosen or opened
    int preferredIndex_ = -1; // the chosen device's index, tried first at the first open
};
