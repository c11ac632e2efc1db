#pragma once

#include "game_port.h"

struct _SDL_Joystick;

// Reads the first joystick through SDL 2's joystick subsystem: axis 0 is
// sensor 1, axis 1 is sensor 2, raw value = SDL axis value + 32768.
// A joystick that goes away gives 167 on every read until one is plugged in
// again; the next read then opens it and reads it.
class JoystickSource : public GamePortSource {
  public:
    JoystickSource();
    ~JoystickSource() override;
    JoystickSource(const JoystickSource&) = delete;
    JoystickSource& operator=(const JoystickSource&) = delete;

    int32_t probeDevice() override;
    int32_t readAxes(PortReading& reading) override;

  private:
    bool openFirst();
    void close();

    bool initialised_ = false;
    _SDL_Joystick* joystick_ = nullptr;
};
