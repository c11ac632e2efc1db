#include "joystick_source.h"

#define SDL_MAIN_HANDLED // the program's main() is Qt's, not SDL's
#include <SDL.h>

#include <QLibrary>
#include <optional>

namespace {

// SDL, with the many libraries it brings along, is loaded when the first
// joystick source is made, so a run on a simulated or replayed port starts
// without it.
struct Sdl {
    decltype(&SDL_SetMainReady) SetMainReady;
    decltype(&SDL_SetHint) SetHint;
    decltype(&SDL_InitSubSystem) InitSubSystem;
    decltype(&SDL_QuitSubSystem) QuitSubSystem;
    decltype(&SDL_JoystickEventState) JoystickEventState;
    decltype(&SDL_JoystickUpdate) JoystickUpdate;
    decltype(&SDL_NumJoysticks) NumJoysticks;
    decltype(&SDL_JoystickOpen) JoystickOpen;
    decltype(&SDL_JoystickClose) JoystickClose;
    decltype(&SDL_JoystickGetAttached) JoystickGetAttached;
    decltype(&SDL_JoystickNumAxes) JoystickNumAxes;
    decltype(&SDL_JoystickGetAxis) JoystickGetAxis;
};

// Null when SDL or one of its functions cannot be found.
const Sdl* sdl() {
    static const std::optional<Sdl> loaded = []() -> std::optional<Sdl> {
#ifdef Q_OS_WIN
        QLibrary library(QStringLiteral("SDL2"));
#else
        QLibrary library(QStringLiteral("SDL2-2.0"), 0);
#endif
        bool complete = true;
        const auto get = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                library.resolve(name));
            complete = complete && function;
        };
        Sdl f;
        get(f.SetMainReady, "SDL_SetMainReady");
        get(f.SetHint, "SDL_SetHint");
        get(f.InitSubSystem, "SDL_InitSubSystem");
        get(f.QuitSubSystem, "SDL_QuitSubSystem");
        get(f.JoystickEventState, "SDL_JoystickEventState");
        get(f.JoystickUpdate, "SDL_JoystickUpdate");
        get(f.NumJoysticks, "SDL_NumJoysticks");
        get(f.JoystickOpen, "SDL_JoystickOpen");
        get(f.JoystickClose, "SDL_JoystickClose");
        get(f.JoystickGetAttached, "SDL_JoystickGetAttached");
        get(f.JoystickNumAxes, "SDL_JoystickNumAxes");
        get(f.JoystickGetAxis, "SDL_JoystickGetAxis");
        return complete ? std::optional(f) : std::nullopt;
    }();
    return loaded ? &*loaded : nullptr;
}

// SDL reports an axis as -32768..32767; the thermistor's raw value is 0..65535.
// An axis the device does not have reads as 0, so its sensor shows as unplugged
// instead of passing off a stale or made-up value as fresh.
uint32_t rawAxis(SDL_Joystick* joystick, int axis) {
    if (axis >= sdl()->JoystickNumAxes(joystick))
        return 0;
    return static_cast<uint32_t>(sdl()->JoystickGetAxis(joystick, axis) + 32768);
}

} // namespace

JoystickSource::JoystickSource() {
    // Without SDL there is no joystick to read.
    if (!sdl())
        return;
    sdl()->SetMainReady();
    // Keep reading while another window has the focus.
    sdl()->SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would otherwise catch SIGINT/SIGTERM and turn them into an event that
    // nobody reads, so the program could no longer be stopped from a terminal.
    sdl()->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    initialised_ = sdl()->InitSubSystem(SDL_INIT_JOYSTICK) == 0;
    // Readings are polled, never taken from SDL's event queue; without this the
    // queue would fill up with axis events that nobody drains.
    if (initialised_)
        sdl()->JoystickEventState(SDL_IGNORE);
}

JoystickSource::~JoystickSource() {
    close();
    if (initialised_)
        sdl()->QuitSubSystem(SDL_INIT_JOYSTICK);
}

int32_t JoystickSource::probeDevice() {
    if (!initialised_)
        return PortCode::NoDevice;
    sdl()->JoystickUpdate();
    if (joystick_ && !sdl()->JoystickGetAttached(joystick_))
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
    sdl()->JoystickUpdate(); // fetches new positions and notices devices coming and going
    if (joystick_ && !sdl()->JoystickGetAttached(joystick_))
        close();
    if (!joystick_) {
        if (!openFirst())
            return PortCode::Unplugged;
        // Some drivers deliver the first positions only with an update after opening.
        sdl()->JoystickUpdate();
        if (!sdl()->JoystickGetAttached(joystick_)) {
            close();
            return PortCode::Unplugged;
        }
    }
    reading.x = rawAxis(joystick_, 0);
    reading.y = rawAxis(joystick_, 1);
    return PortCode::Ok;
}

bool JoystickSource::openFirst() {
    if (sdl()->NumJoysticks() < 1)
        return false;
    joystick_ = sdl()->JoystickOpen(0);
    return joystick_ != nullptr;
}

void JoystickSource::close() {
    if (joystick_)
        sdl()->JoystickClose(joystick_);
    joystick_ = nullptr;
}
