// JoystickSource against SDL's virtual joystick, so no hardware is needed.
#include "sensor/joystick_source.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

// A virtual joystick plugged into SDL; the test holds its own handle to move the axes.
class VirtualStick {
  public:
    explicit VirtualStick(int axes = 2) {
        index_ = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_FLIGHT_STICK, axes, 0, 0);
        if (index_ >= 0)
            handle_ = SDL_JoystickOpen(index_);
    }
    ~VirtualStick() { unplug(); }
    VirtualStick(const VirtualStick&) = delete;
    VirtualStick& operator=(const VirtualStick&) = delete;

    bool ok() const { return handle_ != nullptr; }
    // The new positions reach the joystick at the next SDL_JoystickUpdate.
    void set(int16_t x, int16_t y) {
        SDL_JoystickSetVirtualAxis(handle_, 0, x);
        SDL_JoystickSetVirtualAxis(handle_, 1, y);
    }
    void unplug() {
        if (handle_)
            SDL_JoystickClose(handle_);
        if (index_ >= 0)
            SDL_JoystickDetachVirtual(index_);
        handle_ = nullptr;
        index_ = -1;
    }

  private:
    int index_ = -1;
    SDL_Joystick* handle_ = nullptr;
};

class JoystickTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Keep SDL off raw HID devices; any joystick the machine does have is caught below.
        SDL_SetHint(SDL_HINT_JOYSTICK_HIDAPI, "0");
        source_ = std::make_unique<JoystickSource>();
        SDL_JoystickUpdate();
        if (SDL_WasInit(SDL_INIT_JOYSTICK) == 0)
            GTEST_SKIP() << "SDL joystick subsystem unavailable: " << SDL_GetError();
        if (SDL_NumJoysticks() != 0)
            GTEST_SKIP() << "a real joystick is connected to this machine; unplug it to run "
                            "these tests";
    }
    void TearDown() override { source_.reset(); }

    std::unique_ptr<JoystickSource> source_;
    PortReading reading_;
};

TEST_F(JoystickTest, NoJoystickGivesNoDeviceAndUnpluggedKeepingAxes) {
    EXPECT_EQ(source_->probeDevice(), PortCode::NoDevice);
    reading_.x = 5203;
    reading_.y = 31036;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(source_->readAxes(reading_), PortCode::Unplugged);
        EXPECT_EQ(reading_.x, 5203u);
        EXPECT_EQ(reading_.y, 31036u);
    }
}

TEST_F(JoystickTest, AxesAreShiftedToZeroBasedRawValues) {
    VirtualStick stick;
    ASSERT_TRUE(stick.ok()) << SDL_GetError();
    ASSERT_EQ(source_->probeDevice(), PortCode::Ok);

    struct Row {
        int16_t x, y;
        uint32_t rawX, rawY;
    };
    const Row rows[] = {
        {-32768, 32767, 0, 65535},
        {32767, -32768, 65535, 0},
        {0, -12345, 32768, 20423},
        {-24865, 20365, 7903, 53133},
    };
    for (const Row& row : rows) {
        stick.set(row.x, row.y);
        EXPECT_EQ(source_->readAxes(reading_), PortCode::Ok) << row.x << "," << row.y;
        EXPECT_EQ(reading_.x, row.rawX) << row.x;
        EXPECT_EQ(reading_.y, row.rawY) << row.y;
    }
}

TEST_F(JoystickTest, UnplugKeepsOldValuesAndReplugReadsAtNextTick) {
    {
        VirtualStick stick;
        ASSERT_TRUE(stick.ok()) << SDL_GetError();
        ASSERT_EQ(source_->probeDevice(), PortCode::Ok);
        stick.set(-27565, -1732); // 5203, 31036
        ASSERT_EQ(source_->readAxes(reading_), PortCode::Ok);
        ASSERT_EQ(reading_.x, 5203u);
        ASSERT_EQ(reading_.y, 31036u);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(source_->readAxes(reading_), PortCode::Unplugged);
        EXPECT_EQ(reading_.x, 5203u);
        EXPECT_EQ(reading_.y, 31036u);
    }

    VirtualStick again;
    ASSERT_TRUE(again.ok()) << SDL_GetError();
    again.set(1000, 2000);
    EXPECT_EQ(source_->readAxes(reading_), PortCode::Ok);
    EXPECT_EQ(reading_.x, 33768u);
    EXPECT_EQ(reading_.y, 34768u);
}

TEST_F(JoystickTest, MissingSecondAxisReadsAsUnpluggedSensor) {
    VirtualStick stick(1);
    ASSERT_TRUE(stick.ok()) << SDL_GetError();
    stick.set(-32668, 0); // the device has no axis 1
    reading_.y = 31036;
    ASSERT_EQ(source_->probeDevice(), PortCode::Ok);
    EXPECT_EQ(source_->readAxes(reading_), PortCode::Ok);
    EXPECT_EQ(reading_.x, 100u);
    EXPECT_TRUE(isUnplugged(reading_.y));
}

} // namespace
