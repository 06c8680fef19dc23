#pragma once

#include "controller/XInput.h"

#include <array>
#include <memory>
#include <mutex>

// The process-wide owner of the game controllers behind XInputGetState and XInputSetState.
//
// Four user slots: a joystick that SDL opens as a game controller takes the lowest free slot when
// it is first seen (in SDL's device order) and keeps it while it stays attached; removal frees the
// slot, and a pad that finds every slot taken waits until one frees. A joystick without a
// controller mapping never takes a slot.
//
// Every call takes one lock, so the main window's pad poller and the gamepad test's poller may call
// from their own threads. Each read first brings SDL's devices up to date, so a pad plugged in or
// pulled out is seen by the next read. The object starts SDL's joystick subsystems on first use and
// keeps them until Shutdown (or the end of the process).
class CXInputPads {
public:
    static CXInputPads& Instance();

    ~CXInputPads();
    CXInputPads(const CXInputPads&) = delete;
    CXInputPads& operator=(const CXInputPads&) = delete;

    // See XInputGetState and XInputSetState.
    uint32_t GetState(uint32_t userIndex, XINPUT_STATE* state);
    uint32_t SetState(uint32_t userIndex, const XINPUT_VIBRATION& vibration);
    // The four users at once, as four GetState calls would answer them, with one look at the
    // devices instead of four: what a poller passing over every user calls.
    void GetStates(std::array<uint32_t, XUSER_MAX_COUNT>& results, std::array<XINPUT_STATE, XUSER_MAX_COUNT>& states);

    // Stops every motor, closes the controllers and lets SDL's subsystems go; the slots start empty
    // again on the next call. For the end of the program and for tests.
    void Shutdown();

private:
    CXInputPads();

    struct Impl;
    std::mutex m_mutex;
    std::unique_ptr<Impl> m_impl;
};
