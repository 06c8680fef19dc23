#pragma once

// A virtual game controller for tests: an XInput-style pad (game controller type, an Xbox 360
// vendor and product, 15 buttons and 6 axes) that SDL maps button by button and axis by axis onto
// its game controller layout, or a joystick of another type or make. It records the motor speeds
// that reach it.

#include <SDL.h>

#include <atomic>
#include <utility>

class VirtualPad {
public:
    // Whether SDL sees a joystick that no test attached: a real pad of the machine running the
    // tests, which takes panels and slots the tests count on.
    static bool RealPadAttached()
    {
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (!SDL_JoystickIsVirtual(i))
                return true;
        }
        return false;
    }

    // Speeds as the pad's Rumble callback received them: low-frequency (left), high-frequency (right).
    struct Rumble {
        std::atomic<int> calls{0};
        std::atomic<int> low{-1};
        std::atomic<int> high{-1};
        std::pair<int, int> Last() const { return {low.load(), high.load()}; }
    };

    explicit VirtualPad(const char* name = "virtual pad",
                        SDL_JoystickType type = SDL_JOYSTICK_TYPE_GAMECONTROLLER)
        : VirtualPad(name, type, type == SDL_JOYSTICK_TYPE_GAMECONTROLLER ? 0x045e : 0x1234,
                     type == SDL_JOYSTICK_TYPE_GAMECONTROLLER ? 0x028e : 0x5678)
    {
    }
    // A device of another make: `vendor` and `product` are its USB ids.
    VirtualPad(const char* name, SDL_JoystickType type, Uint16 vendor, Uint16 product)
    {
        SDL_VirtualJoystickDesc desc;
        SDL_zero(desc);
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = static_cast<Uint16>(type);
        const bool pad = type == SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = pad ? 6 : 3;
        desc.nbuttons = pad ? 15 : 4;
        desc.vendor_id = vendor;
        desc.product_id = product;
        desc.name = name;
        desc.userdata = &m_rumble;
        desc.Rumble = [](void* userdata, Uint16 low, Uint16 high) -> int {
            auto* rumble = static_cast<Rumble*>(userdata);
            rumble->low = low;
            rumble->high = high;
            ++rumble->calls;
            return 0;
        };
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        if (index < 0)
            return;
        m_instance = SDL_JoystickGetDeviceInstanceID(index);
        m_joystick = SDL_JoystickOpen(index);
        // At rest: triggers released (their lowest raw value), sticks centred.
        if (pad) {
            SetTriggerRaw(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
            SetTriggerRaw(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
        }
    }
    ~VirtualPad() { Detach(); }
    VirtualPad(const VirtualPad&) = delete;
    VirtualPad& operator=(const VirtualPad&) = delete;

    bool Attached() const { return m_joystick != nullptr; }
    SDL_JoystickID Instance() const { return m_instance; }
    const Rumble& Motors() const { return m_rumble; }

    void Detach()
    {
        if (m_joystick == nullptr)
            return;
        SDL_JoystickClose(m_joystick);
        m_joystick = nullptr;
        // Device indexes move as devices come and go; the instance id finds this one.
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == m_instance) {
                SDL_JoystickDetachVirtual(i);
                break;
            }
        }
    }

    void SetButton(SDL_GameControllerButton button, bool down)
    {
        SDL_JoystickSetVirtualButton(m_joystick, button, down ? 1 : 0);
    }
    // A stick axis in SDL's terms (Y grows downwards).
    void SetAxis(SDL_GameControllerAxis axis, int value)
    {
        SDL_JoystickSetVirtualAxis(m_joystick, axis, static_cast<Sint16>(value));
    }
    void SetTriggerRaw(SDL_GameControllerAxis axis, int raw)
    {
        SDL_JoystickSetVirtualAxis(m_joystick, axis, static_cast<Sint16>(raw));
    }
    // A trigger at the XInput value `value` (0..255): SDL spreads the raw range -32768..32767 over
    // its trigger range 0..32767, so the raw value is the middle of the values giving `value`.
    void SetTrigger(SDL_GameControllerAxis axis, int value) { SetTriggerRaw(axis, RawForTrigger(value)); }
    static int RawForTrigger(int value)
    {
        if (value <= 0)
            return -32768;
        if (value >= 255)
            return 32767;
        const int lowest = (value * 32767 + 254) / 255; // the least SDL value that gives `value`
        return 2 * (lowest + 60) - 32768;
    }

private:
    Rumble m_rumble;
    SDL_Joystick* m_joystick = nullptr;
    SDL_JoystickID m_instance = -1;
};
