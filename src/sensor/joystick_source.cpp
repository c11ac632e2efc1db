#include "joystick_source.h"

#define SDL_MAIN_HANDLED // the program's main() is Qt's, not SDL's
#include <SDL.h>

namespace {

// SDL reports an axis as -32768..32767; the thermistor's raw value is 0..65535.
// An axis the device does not have reads as 0, so its sensor shows as unplugged
// instead of passing off a stale or made-up value as fresh.
uint32_t rawAxis(SDL_Joystick* joystick, int axis) {
    if (axis >= SDL_JoystickNumAxes(joystick))
        return 0;
    return static_cast<uint32_t>(SDL_JoystickGetAxis(joystick, axis) + 32768);
}

} // namespace

JoystickSource::JoystickSource() {
    SDL_SetMainReady();
    // Keep reading while another window has the focus.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would otherwise catch SIGINT/SIGTERM and turn them into an event that
    // nobody reads, so the program could no longer be stopped from a terminal.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    initialised_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0;
    // Readings are polled, never taken from SDL's event queue; without this the
    // queue would fill up with axis events that nobody drains.
    if (initialised_)
        SDL_JoystickEventState(SDL_IGNORE);
}

JoystickSource::~JoystickSource() {
    close();
    if (initialised_)
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

int32_t JoystickSource::probeDevice() {
    if (!initialised_)
        return PortCode::NoDevice;
    SDL_JoystickUpdate();
    if (joystick_ && !SDL_JoystickGetAttached(joystick_))
        close();
    if (!joystick_ && !openFirst())
        return PortCode::NoDevice;
    return PortCode::Ok;
}

int32_t JoystickSource::readAxes(PortReading& reading) {
    // Without SDL there never is a device, which is not the same as one that
    // was pulled out.
    if (!initialised_)
        return PortCode::NoDevice;
    SDL_JoystickUpdate(); // fetches new positions and notices devices coming and going
    if (joystick_ && !SDL_JoystickGetAttached(joystick_))
        close();
    if (!joystick_) {
        if (!openFirst())
            return PortCode::Unplugged;
        // Some drivers deliver the first positions only with an update after opening.
        SDL_JoystickUpdate();
        if (!SDL_JoystickGetAttached(joystick_)) {
            close();
            return PortCode::Unplugged;
        }
    }
    reading.x = rawAxis(joystick_, 0);
    reading.y = rawAxis(joystick_, 1);
    return PortCode::Ok;
}

bool JoystickSource::openFirst() {
    if (SDL_NumJoysticks() < 1)
        return false;
    joystick_ = SDL_JoystickOpen(0);
    return joystick_ != nullptr;
}

void JoystickSource::close() {
    if (joystick_)
        SDL_JoystickClose(joystick_);
    joystick_ = nullptr;
}
