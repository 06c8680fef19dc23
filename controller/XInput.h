#pragma once

// The XInput 1.3 calls the program makes, in their record layouts, served by CXInputPads (SDL game
// controllers). Any thread may call them.

#include <cstdint>

// Button bits of XINPUT_GAMEPAD::wButtons.
inline constexpr uint16_t XINPUT_GAMEPAD_DPAD_UP = 0x0001;
inline constexpr uint16_t XINPUT_GAMEPAD_DPAD_DOWN = 0x0002;
inline constexpr uint16_t XINPUT_GAMEPAD_DPAD_LEFT = 0x0004;
inline constexpr uint16_t XINPUT_GAMEPAD_DPAD_RIGHT = 0x0008;
inline constexpr uint16_t XINPUT_GAMEPAD_START = 0x0010;
inline constexpr uint16_t XINPUT_GAMEPAD_BACK = 0x0020;
inline constexpr uint16_t XINPUT_GAMEPAD_LEFT_THUMB = 0x0040;
inline constexpr uint16_t XINPUT_GAMEPAD_RIGHT_THUMB = 0x0080;
inline constexpr uint16_t XINPUT_GAMEPAD_LEFT_SHOULDER = 0x0100;
inline constexpr uint16_t XINPUT_GAMEPAD_RIGHT_SHOULDER = 0x0200;
inline constexpr uint16_t XINPUT_GAMEPAD_A = 0x1000;
inline constexpr uint16_t XINPUT_GAMEPAD_B = 0x2000;
inline constexpr uint16_t XINPUT_GAMEPAD_X = 0x4000;
inline constexpr uint16_t XINPUT_GAMEPAD_Y = 0x8000;

// The number of user slots.
inline constexpr uint32_t XUSER_MAX_COUNT = 4;

// Answers of the calls.
inline constexpr uint32_t XINPUT_ERROR_SUCCESS = 0;
inline constexpr uint32_t XINPUT_ERROR_DEVICE_NOT_CONNECTED = 1167;

struct XINPUT_GAMEPAD {
    uint16_t wButtons = 0;
    uint8_t bLeftTrigger = 0;  // 0..255
    uint8_t bRightTrigger = 0; // 0..255
    int16_t sThumbLX = 0;      // sticks: positive to the right and upwards
    int16_t sThumbLY = 0;
    int16_t sThumbRX = 0;
    int16_t sThumbRY = 0;

    bool operator==(const XINPUT_GAMEPAD&) const = default;
};

struct XINPUT_STATE {
    uint32_t dwPacketNumber = 0; // grows whenever the pad's state changes
    XINPUT_GAMEPAD Gamepad;
};

struct XINPUT_VIBRATION {
    uint16_t wLeftMotorSpeed = 0;  // the low-frequency motor
    uint16_t wRightMotorSpeed = 0; // the high-frequency motor
};

static_assert(sizeof(XINPUT_GAMEPAD) == 12 && sizeof(XINPUT_STATE) == 16 && sizeof(XINPUT_VIBRATION) == 4,
              "the records keep the XInput layout");

// Reads the pad in slot `userIndex` (0..3) into `state`: XINPUT_ERROR_SUCCESS when the slot holds a
// pad, XINPUT_ERROR_DEVICE_NOT_CONNECTED (state untouched) when it does not or the index is outside.
uint32_t XInputGetState(uint32_t userIndex, XINPUT_STATE* state);

// Sets the motor speeds of the pad in slot `userIndex`; they hold until the next call. Answers as
// XInputGetState does (success also for a pad without motors).
uint32_t XInputSetState(uint32_t userIndex, XINPUT_VIBRATION* vibration);
