#pragma once

#include "controller/Guid.h"

#include <cstdint>
#include <string>
#include <vector>

// One attached game controller, in the shape of a device-instance record.
struct ControllerDevice {
    // Unique among the attached devices and stable while the device stays attached.
    Guid instanceGuid;
    // The vendor and product ids: first field product << 16 | vendor, last bytes "PIDVID".
    Guid productGuid;
    uint32_t deviceType = 0; // kDeviceTypeGamePad or kDeviceTypeJoystick
    std::string instanceName;
    std::string productName;
    Guid ffDriverGuid; // always zero: rumble goes through the controller API instead
    uint16_t usagePage = 0;
    uint16_t usage = 0;
};

// Lists the attached game controllers and formats their instance GUIDs for emulator configuration
// files. An "XInput pad" is a joystick that SDL opens as a game controller of an Xbox type; the other
// joysticks are listed only without the XInput filter.
//
// Enumerate blocks while SDL scans for devices; it may run on any thread, and holds its own
// CSdlContext for the time it runs.
class CControllerDetection {
public:
    static constexpr uint32_t kDeviceTypeJoystick = 0x14;
    static constexpr uint32_t kDeviceTypeGamePad = 0x15;

    explicit CControllerDetection(bool xinputOnly = true) : m_xinputOnly(xinputOnly) {}

    // Replaces the list with the attached devices in SDL's enumeration order. When SDL cannot start,
    // the list stays empty.
    void Enumerate();

    const std::vector<ControllerDevice>& Devices() const { return m_devices; }

    // The instance GUID of the device at `index` as upper-case 8-4-4-4-12 text without braces;
    // "00000000-0000-0000-0000-000000000000" for an index outside the list.
    std::string GuidText(int index) const;

    // The instance GUIDs of the listed devices, in order.
    std::vector<Guid> InstanceGuids() const;

private:
    bool m_xinputOnly;
    std::vector<ControllerDevice> m_devices;
};
