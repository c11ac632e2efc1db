// SPDX-License-Identifier: GPL-3.0-or-later

#include "joystick_source.h"

#define SDL_MAIN_HANDLED // the program's main() is Qt's, not SDL's
#include <SDL.h>

#include <QLibrary>
#include <optional>
#include <utility>

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
    decltype(&SDL_JoystickNameForIndex) JoystickNameForIndex;
    decltype(&SDL_JoystickGetDeviceGUID) JoystickGetDeviceGUID;
    decltype(&SDL_JoystickGetGUIDString) JoystickGetGUIDString;
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
        get(f.JoystickNameForIndex, "SDL_JoystickNameForIndex");
        get(f.JoystickGetDeviceGUID, "SDL_JoystickGetDeviceGUID");
        get(f.JoystickGetGUIDString, "SDL_JoystickGetGUIDString");
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

// The GUID of the joystick at an SDL device index, as 32 hex digits.
QString guidAt(int index) {
    char text[33];
    sdl()->JoystickGetGUIDString(sdl()->JoystickGetDeviceGUID(index), text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

QString deviceLine(const JoystickInfo& device) {
    const QString axes =
        device.axes == 1 ? QStringLiteral("1 axis") : QStringLiteral("%1 axes").arg(device.axes);
    return QStringLiteral("%1: %2, %3, GUID %4")
        .arg(QString::number(device.index), device.name, axes, device.guid);
}

int findDevice(const std::vector<JoystickInfo>& devices, const QString& id, QString* error) {
    // A number is an index; otherwise a whole GUID, and only then a part of a name.
    bool isNumber = false;
    const int index = id.toInt(&isNumber);
    std::vector<int> found;
    for (int i = 0; i < int(devices.size()); ++i) {
        if (isNumber ? devices[i].index == index
                     : devices[i].guid.compare(id, Qt::CaseInsensitive) == 0)
            found.push_back(i);
    }
    const bool byName = !isNumber && found.empty();
    for (int i = 0; byName && i < int(devices.size()); ++i) {
        if (devices[i].name.contains(id, Qt::CaseInsensitive))
            found.push_back(i);
    }
    if (found.size() == 1)
        return found.front();

    *error = (found.empty() ? QStringLiteral("no joystick matches \"%1\"")
                            : QStringLiteral("\"%1\" matches several joysticks"))
                 .arg(id);
    if (devices.empty())
        *error += QStringLiteral("; no joystick is plugged in.");
    else
        *error += QStringLiteral(". The joysticks are:");
    for (const JoystickInfo& device : devices)
        *error += QStringLiteral("\n  ") + deviceLine(device);
    return -1;
}

int firstUsableDevice(const std::vector<JoystickInfo>& devices) {
    for (int i = 0; i < int(devices.size()); ++i) {
        if (devices[i].axes >= 2)
            return i;
    }
    return -1;
}

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
    if (!joystick_ && !openChosen())
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
        if (!openChosen())
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

std::vector<JoystickInfo> JoystickSource::devices() {
    std::vector<JoystickInfo> list;
    if (!initialised_)
        return list;
    sdl()->JoystickUpdate(); // notices devices that came or went since the last look
    for (int i = 0; i < sdl()->NumJoysticks(); ++i) {
        // SDL tells the number of axes only of an open joystick.
        SDL_Joystick* joystick = sdl()->JoystickOpen(i);
        const int axes = joystick ? sdl()->JoystickNumAxes(joystick) : 0;
        if (joystick)
            sdl()->JoystickClose(joystick);
        list.push_back({i, QString::fromUtf8(sdl()->JoystickNameForIndex(i)), axes, guidAt(i)});
    }
    return list;
}

void JoystickSource::choose(const JoystickInfo& device) {
    close();
    guid_ = device.guid;
    preferredIndex_ = device.index;
}

// The SDL index of the device to open now; -1 when it is not plugged in.
int JoystickSource::chosenIndex() {
    if (guid_.isEmpty()) {
        const std::vector<JoystickInfo> list = devices();
        const int usable = firstUsableDevice(list);
        return usable < 0 ? -1 : list[usable].index;
    }
    // Two adapters of the same kind share a GUID; the index the user chose tells them apart
    // at the start. After a replug, the first with the GUID is as good as any.
    const int preferred = std::exchange(preferredIndex_, -1);
    if (preferred >= 0 && guidAt(preferred) == guid_)
        return preferred;
    for (int i = 0; i < sdl()->NumJoysticks(); ++i) {
        if (guidAt(i) == guid_)
            return i;
    }
    return -1;
}

bool JoystickSource::openChosen() {
    const int index = chosenIndex();
    if (index < 0)
        return false;
    joystick_ = sdl()->JoystickOpen(index);
    if (joystick_)
        guid_ = guidAt(index);
    return joystick_ != nullptr;
}

void JoystickSource::close() {
    if (joystick_)
        sdl()->JoystickClose(joystick_);
    joystick_ = nullptr;
}
