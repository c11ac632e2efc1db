// JoystickSource against SDL's virtual joystick, so no hardware is needed.
#include "sensor/joystick_source.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace {

// A virtual two-axis joystick plugged into SDL while it lives; the test moves its axes through its
// own handle, and the source sees the new positions at its next read.
struct VirtualStick {
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 2, 0, 0);
    SDL_Joystick* handle = index < 0 ? nullptr : SDL_JoystickOpen(index);
    ~VirtualStick() {
        SDL_JoystickClose(handle);
        SDL_JoystickDetachVirtual(index);
    }
    void set(int16_t x, int16_t y) {
        SDL_JoystickSetVirtualAxis(handle, 0, x);
        SDL_JoystickSetVirtualAxis(handle, 1, y);
    }
};

TEST(JoystickSource, ReadsAJoystickThatComesAndGoes) {
    SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0"); // keeps SDL off raw HID devices
    // The test starts SDL itself, so a source that fails to start it fails the test.
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0 || SDL_NumJoysticks() != 0)
        GTEST_SKIP() << "needs SDL's joystick subsystem and no real joystick; " << SDL_GetError();
    JoystickSource source;
    PortReading reading{0, 5203, 31036};
    // One read: its code and the x and y it leaves behind.
    const auto read = [&] {
        const int32_t code = source.readAxes(reading);
        return std::tuple(code, reading.x, reading.y);
    };

    // No joystick at all: no device, and reads report it unplugged without touching x and y.
    EXPECT_EQ(source.probeDevice(), PortCode::NoDevice);
    EXPECT_EQ(read(), std::tuple(PortCode::Unplugged, 5203u, 31036u));

    // SDL's -32768..32767 becomes the raw 0..65535.
    std::optional<VirtualStick> stick(std::in_place);
    ASSERT_TRUE(stick->handle) << SDL_GetError();
    EXPECT_EQ(source.probeDevice(), PortCode::Ok);
    const std::tuple<int16_t, int16_t, uint32_t, uint32_t> rows[] = {
        {-32768, 32767, 0, 65535}, {32767, -32768, 65535, 0}, {0, -12345, 32768, 20423}};
    for (const auto& [x, y, rawX, rawY] : rows) {
        stick->set(x, y);
        EXPECT_EQ(read(), std::tuple(PortCode::Ok, rawX, rawY)) << x << "," << y;
    }

    // Unplugged: every read says so and the last values stay; plugged in again: fresh values.
    stick.reset();
    EXPECT_EQ(read(), std::tuple(PortCode::Unplugged, 32768u, 20423u));
    EXPECT_EQ(read(), std::tuple(PortCode::Unplugged, 32768u, 20423u));
    stick.emplace();
    ASSERT_TRUE(stick->handle) << SDL_GetError();
    stick->set(1000, 2000);
    EXPECT_EQ(read(), std::tuple(PortCode::Ok, 33768u, 34768u));
    // Read by polling: nothing piles up in SDL's event queue.
    EXPECT_FALSE(SDL_HasEvents(SDL_JOYAXISMOTION, SDL_JOYDEVICEREMOVED));
}

} // namespace
