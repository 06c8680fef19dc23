#include "controller/XInputPads.h"

#include "controller/SdlContext.h"
#include "platform/Trace.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// SDL ends a rumble after the duration it is given (at most about 65 s); a rumble is given again
// with the same speeds well before that, so the motors hold until the next XInputSetState.
constexpr Uint32 kRumbleMs = 60000;
constexpr auto kRumbleRenew = std::chrono::seconds(30);

struct ControllerClose {
    void operator()(SDL_GameController* controller) const { SDL_GameControllerClose(controller); }
};
using ControllerPtr = std::unique_ptr<SDL_GameController, ControllerClose>;

struct ButtonBit {
    SDL_GameControllerButton button;
    uint16_t bit;
};

// The guide button has no bit: XInput does not report it.
constexpr ButtonBit kButtonBits[] = {
    {SDL_CONTROLLER_BUTTON_DPAD_UP, XINPUT_GAMEPAD_DPAD_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, XINPUT_GAMEPAD_DPAD_DOWN},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, XINPUT_GAMEPAD_DPAD_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, XINPUT_GAMEPAD_DPAD_RIGHT},
    {SDL_CONTROLLER_BUTTON_START, XINPUT_GAMEPAD_START},
    {SDL_CONTROLLER_BUTTON_BACK, XINPUT_GAMEPAD_BACK},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, XINPUT_GAMEPAD_LEFT_THUMB},
    {SDL_CONTROLLER_BUTTON_RIGHTSTICK, XINPUT_GAMEPAD_RIGHT_THUMB},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, XINPUT_GAMEPAD_LEFT_SHOULDER},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, XINPUT_GAMEPAD_RIGHT_SHOULDER},
    {SDL_CONTROLLER_BUTTON_A, XINPUT_GAMEPAD_A},
    {SDL_CONTROLLER_BUTTON_B, XINPUT_GAMEPAD_B},
    {SDL_CONTROLLER_BUTTON_X, XINPUT_GAMEPAD_X},
    {SDL_CONTROLLER_BUTTON_Y, XINPUT_GAMEPAD_Y},
};

// SDL's trigger range 0..32767 to XInput's 0..255.
uint8_t Trigger(Sint16 value)
{
    const int clamped = std::clamp(static_cast<int>(value), 0, 32767);
    return static_cast<uint8_t>(clamped * 255 / 32767);
}

// SDL's Y axes grow downwards and XInput's upwards; SDL's -32768 (fully up) has no negation in 16
// bits and becomes 32767.
int16_t Upwards(Sint16 value)
{
    return static_cast<int16_t>(std::min(-static_cast<int>(value), 32767));
}

XINPUT_GAMEPAD ReadGamepad(SDL_GameController* controller)
{
    XINPUT_GAMEPAD pad;
    for (const ButtonBit& entry : kButtonBits)
        if (SDL_GameControllerGetButton(controller, entry.button) != 0)
            pad.wButtons |= entry.bit;
    pad.bLeftTrigger = Trigger(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
    pad.bRightTrigger = Trigger(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
    pad.sThumbLX = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTX);
    pad.sThumbLY = Upwards(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_LEFTY));
    pad.sThumbRX = SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTX);
    pad.sThumbRY = Upwards(SDL_GameControllerGetAxis(controller, SDL_CONTROLLER_AXIS_RIGHTY));
    return pad;
}

} // namespace

struct CXInputPads::Impl {
    struct Slot {
        ControllerPtr controller;
        SDL_JoystickID instance = -1;
        XINPUT_GAMEPAD last;
        uint32_t packet = 0;
        XINPUT_VIBRATION vibration;
        Clock::time_point rumbleSent;
    };

    CSdlContext sdl;
    std::array<Slot, XUSER_MAX_COUNT> slots;

    Impl()
    {
        // Nobody reads SDL's event queue (there is no SDL video); without this every axis move
        // would pile up there.
        if (sdl.Ok()) {
            SDL_JoystickEventState(SDL_IGNORE);
            SDL_GameControllerEventState(SDL_IGNORE);
        }
    }

    ~Impl()
    {
        for (Slot& slot : slots)
            Release(slot);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    static void Release(Slot& slot)
    {
        if (slot.controller && (slot.vibration.wLeftMotorSpeed != 0 || slot.vibration.wRightMotorSpeed != 0))
            SDL_GameControllerRumble(slot.controller.get(), 0, 0, 0);
        slot = Slot();
    }

    static void Rumble(Slot& slot)
    {
        SDL_GameControllerRumble(slot.controller.get(), slot.vibration.wLeftMotorSpeed,
                                 slot.vibration.wRightMotorSpeed, kRumbleMs);
        slot.rumbleSent = Clock::now();
    }

    static uint32_t Read(Slot& slot, XINPUT_STATE& state)
    {
        if (!slot.controller)
            return XINPUT_ERROR_DEVICE_NOT_CONNECTED;
        const XINPUT_GAMEPAD pad = ReadGamepad(slot.controller.get());
        if (!(pad == slot.last)) {
            slot.last = pad;
            ++slot.packet;
        }
        state.dwPacketNumber = slot.packet;
        state.Gamepad = pad;
        return XINPUT_ERROR_SUCCESS;
    }

    // Brings SDL's devices up to date: pads that went away free their slots, new pads take the
    // lowest free ones, running rumbles are renewed.
    void Refresh()
    {
        if (!sdl.Ok())
            return;
        SDL_GameControllerUpdate();
        bool freeSlot = false;
        for (Slot& slot : slots) {
            if (slot.controller && !SDL_GameControllerGetAttached(slot.controller.get()))
                Release(slot);
            freeSlot = freeSlot || !slot.controller;
        }
        const Clock::time_point now = Clock::now();
        for (Slot& slot : slots) {
            const bool moving = slot.vibration.wLeftMotorSpeed != 0 || slot.vibration.wRightMotorSpeed != 0;
            if (slot.controller && moving && now - slot.rumbleSent > kRumbleRenew)
                Rumble(slot);
        }
        if (!freeSlot)
            return;
        const int count = SDL_NumJoysticks();
        for (int device = 0; device < count; ++device) {
            const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(device);
            const bool seated = std::any_of(slots.begin(), slots.end(),
                                            [&](const Slot& slot) { return slot.instance == instance; });
            if (seated || !SDL_IsGameController(device))
                continue;
            auto free =
                std::find_if(slots.begin(), slots.end(), [](const Slot& slot) { return !slot.controller; });
            if (free == slots.end())
                return;
            ControllerPtr controller(SDL_GameControllerOpen(device));
            if (!controller) {
                platform::TraceF("game controller %d cannot be opened: %s", device, SDL_GetError());
                continue;
            }
            free->controller = std::move(controller);
            free->instance = instance;
            free->last = ReadGamepad(free->controller.get());
            free->packet = 1;
        }
    }
};

CXInputPads& CXInputPads::Instance()
{
    static CXInputPads pads;
    return pads;
}

CXInputPads::CXInputPads() = default;

CXInputPads::~CXInputPads() = default;

uint32_t CXInputPads::GetState(uint32_t userIndex, XINPUT_STATE* state)
{
    if (userIndex >= XUSER_MAX_COUNT || state == nullptr)
        return XINPUT_ERROR_DEVICE_NOT_CONNECTED;
    std::lock_guard lock(m_mutex);
    if (!m_impl)
        m_impl = std::make_unique<Impl>();
    m_impl->Refresh();
    return m_impl->Read(m_impl->slots[userIndex], *state);
}

void CXInputPads::GetStates(std::array<uint32_t, XUSER_MAX_COUNT>& results,
                            std::array<XINPUT_STATE, XUSER_MAX_COUNT>& states)
{
    std::lock_guard lock(m_mutex);
    if (!m_impl)
        m_impl = std::make_unique<Impl>();
    m_impl->Refresh();
    for (uint32_t user = 0; user < XUSER_MAX_COUNT; ++user)
        results[user] = m_impl->Read(m_impl->slots[user], states[user]);
}

uint32_t CXInputPads::SetState(uint32_t userIndex, const XINPUT_VIBRATION& vibration)
{
    if (userIndex >= XUSER_MAX_COUNT)
        return XINPUT_ERROR_DEVICE_NOT_CONNECTED;
    std::lock_guard lock(m_mutex);
    if (!m_impl)
        m_impl = std::make_unique<Impl>();
    Impl::Slot& slot = m_impl->slots[userIndex];
    if (!slot.controller)
        m_impl->Refresh(); // a pad plugged in since the last read takes its slot now
    if (!slot.controller)
        return XINPUT_ERROR_DEVICE_NOT_CONNECTED;
    slot.vibration = vibration;
    Impl::Rumble(slot);
    return XINPUT_ERROR_SUCCESS;
}

void CXInputPads::Shutdown()
{
    std::lock_guard lock(m_mutex);
    m_impl.reset();
}

uint32_t XInputGetState(uint32_t userIndex, XINPUT_STATE* state)
{
    return CXInputPads::Instance().GetState(userIndex, state);
}

uint32_t XInputSetState(uint32_t userIndex, XINPUT_VIBRATION* vibration)
{
    if (vibration == nullptr)
        return XINPUT_ERROR_DEVICE_NOT_CONNECTED;
    return CXInputPads::Instance().SetState(userIndex, *vibration);
}
