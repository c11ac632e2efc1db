// SPDX-License-Identifier: GPL-3.0-or-later
// JoystickSource against SDL's virtual joystick, so no hardware is needed.
#include "sensor/joystick_source.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// A virtual joystick plugged into SDL while it lives; its GUID comes from its name.
struct VirtualStick {
    explicit VirtualStick(const char* name = "Virtual stick", int axes = 2) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.naxes = uint16_t(axes);
        desc.name = name;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        handle = index < 0 ? nullptr : SDL_JoystickOpen(index);
    }
    ~VirtualStick() {
        for (int i = 0; i < SDL_NumJoysticks(); ++i)
            if (SDL_JoystickGetDeviceInstanceID(i) == SDL_JoystickInstanceID(handle))
                SDL_JoystickDetachVirtual(i);
        SDL_JoystickClose(handle);
    }
    std::string guid() const {
        char text[33];
        SDL_JoystickGetGUIDString(SDL_JoystickGetGUID(handle), text, sizeof text);
        return text;
    }
    SDL_Joystick* handle = nullptr;
    void set(int16_t x, int16_t y) {
        SDL_JoystickSetVirtualAxis(handle, 0, x);
        SDL_JoystickSetVirtualAxis(handle, 1, y);
    }
};

// One read into a reading that keeps its values between reads: the code and "x y".
std::string readOnce(JoystickSource& source, PortReading& reading) {
    const int32_t code = source.readAxes(reading);
    return std::to_string(code) + " " + std::to_string(reading.x) + " " + std::to_string(reading.y);
}

TEST(JoystickSource, ListsTheJoysticksAndReadsTheOneChosen) {
    // The test starts SDL itself, so a source that fails to start it fails the test.
    SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0"); // keeps SDL off raw HID devices
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0 || SDL_NumJoysticks() != 0)
        GTEST_SKIP() << "needs SDL's joystick subsystem and no real joystick; " << SDL_GetError();
    JoystickSource source;
    PortReading reading{0, 5203, 31036};
    // No joystick at all: no device, and reads report it unplugged without touching x and y.
    EXPECT_EQ(source.probeDevice(), PortCode::NoDevice);
    EXPECT_EQ(readOnce(source, reading), "167 5203 31036");

    std::optional<VirtualStick> one(std::in_place, "Accelerometer", 1);
    VirtualStick first("Thermo Adapter", 2);
    std::optional<VirtualStick> second(std::in_place, "USB Thermo Port", 3);
    one->set(-100, 0);
    first.set(-32768, 32767);
    second->set(1000, 2000);

    const std::vector<JoystickInfo> devices = source.devices();
    QString list;
    for (const JoystickInfo& device : devices)
        list += deviceLine(device) + u'\n';
    EXPECT_EQ(list.toStdString(), "0: Accelerometer, 1 axis, GUID " + one->guid() +
                                      "\n1: Thermo Adapter, 2 axes, GUID " + first.guid() +
                                      "\n2: USB Thermo Port, 3 axes, GUID " + second->guid() +
                                      "\n");

    // Nothing chosen: the next after the one-axis device, SDL's -32768..32767 as raw 0..65535.
    EXPECT_EQ(source.probeDevice(), PortCode::Ok);
    EXPECT_EQ(readOnce(source, reading), "0 0 65535");

    // The second two-axis stick, named by the GUID SDL gives it (other names: FindDevice).
    QString error;
    ASSERT_EQ(findDevice(devices, QString::fromStdString(second->guid()), &error), 2);
    source.choose(devices[2]);
    EXPECT_EQ(readOnce(source, reading), "0 33768 34768");

    // Pulled out while another stays: unplugged, values kept (listing left no device open).
    const SDL_JoystickID oneId = SDL_JoystickInstanceID(one->handle);
    second.reset();
    one.reset();
    EXPECT_FALSE(SDL_JoystickFromInstanceID(oneId));
    EXPECT_EQ(readOnce(source, reading), "167 33768 34768");
    EXPECT_EQ(readOnce(source, reading), "167 33768 34768");
    EXPECT_EQ(source.probeDevice(), PortCode::NoDevice);
    second.emplace("USB Thermo Port", 3); // back at another index: read
    second->set(-2000, 0);
    EXPECT_EQ(readOnce(source, reading), "0 30768 32768");
    JoystickSource other; // nothing chosen, and the first device has two axes
    EXPECT_EQ(readOnce(other, reading), "0 0 65535");
    // Two sticks of one kind share a GUID; the index chosen tells them apart.
    VirtualStick twin("USB Thermo Port", 3);
    twin.set(100, 100);
    const std::vector<JoystickInfo> now = source.devices();
    ASSERT_EQ(now.size(), 3u);
    ASSERT_EQ(now[1].guid, now[2].guid);
    source.choose(now[2]);
    EXPECT_EQ(readOnce(source, reading), "0 32868 32868");
    // Read by polling: nothing piles up in SDL's event queue.
    EXPECT_FALSE(SDL_HasEvents(SDL_JOYAXISMOTION, SDL_JOYDEVICEREMOVED));
}

// Finding a device by the ID given on the command line; without a match, the whole message (with
// none plugged in: command_line.sh).
TEST(FindDevice, IndexThenGuidThenAUniquePartOfTheName) {
    const std::vector<JoystickInfo> devices = {
        {0, QStringLiteral("Thermo Adapter"), 2, QStringLiteral("03000000aa")},
        {1, QStringLiteral("2 Port Thermo"), 1, QStringLiteral("03000000bb")},
        {2, QStringLiteral("Gamepad BB"), 6, QStringLiteral("03000000cc")}};
    const std::string list = ". The joysticks are:\n"
                             "  0: Thermo Adapter, 2 axes, GUID 03000000aa\n"
                             "  1: 2 Port Thermo, 1 axis, GUID 03000000bb\n"
                             "  2: Gamepad BB, 6 axes, GUID 03000000cc";
    const std::pair<const char*, std::string> rows[] = {
        {"2", "2"}, // an index, although a name holds it
        {"03000000BB", "1"},
        {"bb", "2"}, // part of a GUID is no GUID
        {"thermo", "\"thermo\" matches several joysticks" + list},
        {"joystick", "no joystick matches \"joystick\"" + list},
    };
    for (const auto& [id, expected] : rows) {
        QString error;
        const int found = findDevice(devices, QString::fromLatin1(id), &error);
        EXPECT_EQ(found < 0 ? error.toStdString() : std::to_string(found), expected) << id;
    }
}

} // namespace
