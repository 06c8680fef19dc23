#include "controller/ControllerDetection.h"

#include "controller/SdlContext.h"

#include <SDL.h>

#include <string_view>

namespace {

// USB HID usage page and usages of the generic desktop page.
constexpr uint16_t kUsagePageGeneric = 0x01;
constexpr uint16_t kUsageJoystick = 0x04;
constexpr uint16_t kUsageGamePad = 0x05;

// 64-bit FNV-1a, continued from `hash`.
uint64_t Fnv1a(std::string_view bytes, uint64_t hash)
{
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// A GUID for the attachment of one device: a hash of SDL's model GUID together with the device's
// path (which no two attached devices share, and which stays the same while it is attached) or, for
// a device without a path, SDL's instance id (never reused while the program runs).
Guid InstanceGuid(int deviceIndex)
{
    SDL_JoystickGUID model = SDL_JoystickGetDeviceGUID(deviceIndex);
    std::string identity(reinterpret_cast<const char*>(model.data), sizeof model.data);
    if (const char* path = SDL_JoystickPathForIndex(deviceIndex))
        identity += std::string("path:") + path;
    else
        identity += "instance:" + std::to_string(SDL_JoystickGetDeviceInstanceID(deviceIndex));
    const uint64_t high = Fnv1a(identity, 0xcbf29ce484222325ULL);
    const uint64_t low = Fnv1a(identity, high ^ 0x9e3779b97f4a7c15ULL);
    Guid guid;
    guid.data1 = static_cast<uint32_t>(high >> 32);
    guid.data2 = static_cast<uint16_t>(high >> 16);
    guid.data3 = static_cast<uint16_t>(high);
    for (int i = 0; i < 8; ++i)
        guid.data4[i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    return guid;
}

Guid ProductGuid(uint16_t vendor, uint16_t product)
{
    Guid guid;
    guid.data1 = static_cast<uint32_t>(product) << 16 | vendor;
    guid.data4 = {0, 0, 'P', 'I', 'D', 'V', 'I', 'D'};
    return guid;
}

bool IsXInputPad(int deviceIndex)
{
    if (!SDL_IsGameController(deviceIndex))
        return false;
    SDL_GameControllerType type = SDL_GameControllerTypeForIndex(deviceIndex);
    return type == SDL_CONTROLLER_TYPE_XBOX360 || type == SDL_CONTROLLER_TYPE_XBOXONE;
}

} // namespace

void CControllerDetection::Enumerate()
{
    m_devices.clear();
    CSdlContext sdl;
    if (!sdl.Ok())
        return;
    // Picks up devices plugged in since the subsystems started.
    SDL_JoystickUpdate();
    const int count = SDL_NumJoysticks();
    for (int i = 0; i < count; ++i) {
        if (m_xinputOnly && !IsXInputPad(i))
            continue;
        ControllerDevice device;
        device.instanceGuid = InstanceGuid(i);
        device.productGuid = ProductGuid(SDL_JoystickGetDeviceVendor(i), SDL_JoystickGetDeviceProduct(i));
        const bool isGamePad = SDL_IsGameController(i);
        device.deviceType = isGamePad ? kDeviceTypeGamePad : kDeviceTypeJoystick;
        const char* name = SDL_JoystickNameForIndex(i);
        device.instanceName = name ? name : "";
        device.productName = device.instanceName;
        device.usagePage = kUsagePageGeneric;
        device.usage = isGamePad ? kUsageGamePad : kUsageJoystick;
        m_devices.push_back(std::move(device));
    }
}

std::string CControllerDetection::GuidText(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_devices.size())
        return Guid{}.Text();
    return m_devices[static_cast<size_t>(index)].instanceGuid.Text();
}

std::vector<Guid> CControllerDetection::InstanceGuids() const
{
    std::vector<Guid> guids;
    for (const ControllerDevice& device : m_devices)
        guids.push_back(device.instanceGuid);
    return guids;
}
