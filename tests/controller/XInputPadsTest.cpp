// The XInput stand-in over virtual SDL pads: slots as pads come and go, the record's values, and
// the motors.
#include "controller/XInputPads.h"
#include "controller/SdlContext.h"
#include "controller/XInput.h"
#include "tests/controller/VirtualPad.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

class XInputPadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sdl.Ok()) << SDL_GetError();
        CXInputPads::Instance().Shutdown();
        for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user) {
            if (Connected(user))
                GTEST_SKIP() << "a pad is attached to this machine; the slot tests need them all free";
        }
    }
    void TearDown() override { CXInputPads::Instance().Shutdown(); }

    static bool Connected(uint32_t user)
    {
        XINPUT_STATE state;
        return XInputGetState(user, &state) == XINPUT_ERROR_SUCCESS;
    }
    // Which slots hold a pad, as a string of '0'/'1' for users 0..3.
    static std::string Slots()
    {
        std::string slots;
        for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user)
            slots += Connected(user) ? '1' : '0';
        return slots;
    }
    static XINPUT_GAMEPAD Read(uint32_t user)
    {
        XINPUT_STATE state;
        EXPECT_EQ(XInputGetState(user, &state), XINPUT_ERROR_SUCCESS) << "user " << user;
        return state.Gamepad;
    }

    CSdlContext m_sdl;
};

} // namespace

TEST_F(XInputPadsTest, PadsTakeTheLowestFreeSlotAndKeepItWhileAttached)
{
    EXPECT_EQ(Slots(), "0000");
    VirtualPad stick("flight stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK);
    ASSERT_TRUE(stick.Attached()) << SDL_GetError();
    EXPECT_EQ(Slots(), "0000") << "a joystick without a controller mapping takes no slot";

    std::vector<std::unique_ptr<VirtualPad>> pads;
    for (int i = 0; i < 3; ++i)
        pads.push_back(std::make_unique<VirtualPad>());
    EXPECT_EQ(Slots(), "1110");
    pads[0]->Detach();
    pads[1]->Detach();
    EXPECT_EQ(Slots(), "0010") << "the third pad stays on slot 2";

    // The third pad is the one on slot 2: its input shows there.
    pads[2]->SetButton(SDL_CONTROLLER_BUTTON_A, true);
    EXPECT_EQ(Read(2).wButtons, XINPUT_GAMEPAD_A);

    pads.push_back(std::make_unique<VirtualPad>()); // 3: takes slot 0
    pads.push_back(std::make_unique<VirtualPad>()); // 4: slot 1
    pads.push_back(std::make_unique<VirtualPad>()); // 5: slot 3
    EXPECT_EQ(Slots(), "1111");
    pads.push_back(std::make_unique<VirtualPad>()); // 6: waits
    pads[6]->SetButton(SDL_CONTROLLER_BUTTON_Y, true);
    for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user)
        EXPECT_NE(Read(user).wButtons, XINPUT_GAMEPAD_Y) << "the waiting pad shows nowhere";

    pads[4]->Detach(); // slot 1 frees; the waiting pad takes it
    EXPECT_EQ(Slots(), "1111");
    EXPECT_EQ(Read(1).wButtons, XINPUT_GAMEPAD_Y);
    EXPECT_EQ(Read(2).wButtons, XINPUT_GAMEPAD_A);
}

TEST_F(XInputPadsTest, ButtonsTriggersAndSticksInXInputTerms)
{
    VirtualPad pad;
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    const XINPUT_GAMEPAD rest = Read(0);
    EXPECT_EQ(rest, XINPUT_GAMEPAD{});

    struct Case {
        SDL_GameControllerButton button;
        uint16_t bit;
    };
    const Case cases[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_UP, 0x0001},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 0x0002},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0x0004},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 0x0008},
        {SDL_CONTROLLER_BUTTON_START, 0x0010},
        {SDL_CONTROLLER_BUTTON_BACK, 0x0020},
        {SDL_CONTROLLER_BUTTON_LEFTSTICK, 0x0040},
        {SDL_CONTROLLER_BUTTON_RIGHTSTICK, 0x0080},
        {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 0x0100},
        {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 0x0200},
        {SDL_CONTROLLER_BUTTON_A, 0x1000},
        {SDL_CONTROLLER_BUTTON_B, 0x2000},
        {SDL_CONTROLLER_BUTTON_X, 0x4000},
        {SDL_CONTROLLER_BUTTON_Y, 0x8000},
        {SDL_CONTROLLER_BUTTON_GUIDE, 0x0000},
    };
    for (const Case& c : cases) {
        pad.SetButton(c.button, true);
        EXPECT_EQ(Read(0).wButtons, c.bit) << "button " << c.button;
        pad.SetButton(c.button, false);
    }
    EXPECT_EQ(Read(0).wButtons, 0);

    for (int value : {0, 1, 2, 127, 128, 254, 255}) {
        pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERLEFT, value);
        pad.SetTrigger(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 255 - value);
        const XINPUT_GAMEPAD read = Read(0);
        EXPECT_EQ(read.bLeftTrigger, value);
        EXPECT_EQ(read.bRightTrigger, 255 - value);
    }

    // X as SDL has it; Y upwards positive: SDL's -32768 (fully up) becomes 32767.
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTX, 32767);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, -32768);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, -32768);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTY, 32767);
    XINPUT_GAMEPAD read = Read(0);
    EXPECT_EQ(read.sThumbLX, 32767);
    EXPECT_EQ(read.sThumbLY, 32767);
    EXPECT_EQ(read.sThumbRX, -32768);
    EXPECT_EQ(read.sThumbRY, -32767);
    pad.SetAxis(SDL_CONTROLLER_AXIS_LEFTY, 1000);
    EXPECT_EQ(Read(0).sThumbLY, -1000);
}

TEST_F(XInputPadsTest, ThePacketNumberGrowsOnlyWhenTheStateChanges)
{
    VirtualPad pad;
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    XINPUT_STATE first, again, changed;
    ASSERT_EQ(XInputGetState(0, &first), XINPUT_ERROR_SUCCESS);
    ASSERT_EQ(XInputGetState(0, &again), XINPUT_ERROR_SUCCESS);
    EXPECT_EQ(again.dwPacketNumber, first.dwPacketNumber);
    pad.SetAxis(SDL_CONTROLLER_AXIS_RIGHTX, 1234);
    ASSERT_EQ(XInputGetState(0, &changed), XINPUT_ERROR_SUCCESS);
    EXPECT_GT(changed.dwPacketNumber, again.dwPacketNumber);
}

TEST_F(XInputPadsTest, MotorsFollowTheVibrationRecordAndStopAtShutdown)
{
    VirtualPad pad;
    ASSERT_TRUE(pad.Attached()) << SDL_GetError();
    XINPUT_VIBRATION vibration;
    EXPECT_EQ(XInputSetState(0, &vibration), XINPUT_ERROR_SUCCESS) << "a pad is seen by either call";
    EXPECT_EQ(XInputSetState(1, &vibration), XINPUT_ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(XInputSetState(7, &vibration), XINPUT_ERROR_DEVICE_NOT_CONNECTED);

    vibration.wLeftMotorSpeed = 511;
    vibration.wRightMotorSpeed = 65535;
    EXPECT_EQ(XInputSetState(0, &vibration), XINPUT_ERROR_SUCCESS);
    EXPECT_EQ(pad.Motors().Last(), std::make_pair(511, 65535)) << "left is the low-frequency motor";
    // Reads in between leave the motors running.
    ASSERT_TRUE(Connected(0));
    EXPECT_EQ(pad.Motors().Last(), std::make_pair(511, 65535));

    CXInputPads::Instance().Shutdown();
    EXPECT_EQ(pad.Motors().Last(), std::make_pair(0, 0));
}

// A process reading pads can still be ended by SIGTERM (and SIGINT): SDL does not take them over.
TEST(SdlContextTest, ATerminationSignalStillEndsAProcessReadingPads)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a fresh process: SDL not started before
    EXPECT_EXIT(
        {
            CSdlContext sdl;
            if (!sdl.Ok())
                std::_Exit(3);
            std::raise(SIGTERM);
            std::_Exit(0); // still here: the signal was taken over
        },
        ::testing::KilledBySignal(SIGTERM), "");
}
