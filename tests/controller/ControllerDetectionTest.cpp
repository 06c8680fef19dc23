#include "controller/ControllerDetection.h"
#include "controller/SdlContext.h"
#include "tests/controller/VirtualPad.h"

#include <SDL.h>

#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr char kZeroGuid[] = "00000000-0000-0000-0000-000000000000";

std::unique_ptr<VirtualPad> Xbox360(const char* name)
{
    return std::make_unique<VirtualPad>(name);
}

// Upper-case hexadecimal in groups of 8-4-4-4-12.
bool IsGuidText(const std::string& text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const char c = text[i];
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

class ControllerDetectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sdl.Ok()) << SDL_GetError();
        // Physical pads on the machine running the tests come first; the virtual ones follow them.
        CControllerDetection all(false);
        all.Enumerate();
        m_present = all.Devices().size();
        CControllerDetection pads;
        pads.Enumerate();
        m_presentPads = pads.Devices().size();
    }

    CSdlContext m_sdl;
    size_t m_present = 0;
    size_t m_presentPads = 0;
};

} // namespace

TEST(GuidTest, TextAndBytesFollowTheStructureLayout)
{
    Guid guid;
    EXPECT_EQ(guid.Text(), kZeroGuid);
    guid.data1 = 0x01234567;
    guid.data2 = 0x89AB;
    guid.data3 = 0xCDEF;
    guid.data4 = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    EXPECT_EQ(guid.Text(), "01234567-89AB-CDEF-FEDC-BA9876543210");
    auto bytes = guid.Bytes();
    EXPECT_EQ(bytes[0], 0x67);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[4], 0xAB);
    EXPECT_EQ(bytes[6], 0xEF);
    EXPECT_EQ(bytes[8], 0xFE);
    EXPECT_EQ(bytes[15], 0x10);
}

TEST_F(ControllerDetectionTest, IndexesOutsideTheListGiveTheZeroGuid)
{
    CControllerDetection detection;
    EXPECT_EQ(detection.GuidText(0), kZeroGuid); // before any enumeration: an empty list
    detection.Enumerate();
    EXPECT_EQ(detection.GuidText(static_cast<int>(m_presentPads)), kZeroGuid);
    EXPECT_EQ(detection.GuidText(-1), kZeroGuid);
    if (m_presentPads == 0) {
        EXPECT_TRUE(detection.Devices().empty());
    }
}

TEST_F(ControllerDetectionTest, TwoPadsGiveDistinctStableGuidsInOrder)
{
    auto first = Xbox360("first pad");
    VirtualPad second("second pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0x045e, 0x02ea); // Xbox One
    ASSERT_TRUE(first->Attached() && second.Attached()) << SDL_GetError();

    CControllerDetection detection;
    detection.Enumerate();
    ASSERT_EQ(detection.Devices().size(), m_presentPads + 2);
    const int a = static_cast<int>(m_presentPads);
    EXPECT_EQ(detection.Devices()[a].instanceName, "first pad");
    EXPECT_EQ(detection.Devices()[a + 1].instanceName, "second pad");
    EXPECT_EQ(detection.Devices()[a].productGuid.data1, 0x028e045eu);

    const std::string textA = detection.GuidText(a);
    const std::string textB = detection.GuidText(a + 1);
    EXPECT_TRUE(IsGuidText(textA)) << textA;
    EXPECT_TRUE(IsGuidText(textB)) << textB;
    EXPECT_NE(textA, textB);
    EXPECT_NE(textA, kZeroGuid);

    // The same devices keep their GUIDs, also when another one goes away.
    detection.Enumerate();
    EXPECT_EQ(detection.GuidText(a), textA);
    first->Detach();
    detection.Enumerate();
    ASSERT_EQ(detection.Devices().size(), m_presentPads + 1);
    EXPECT_EQ(detection.GuidText(a), textB);

    // Two pads of the same model are still told apart.
    auto twin = Xbox360("first pad");
    auto twin2 = Xbox360("first pad");
    detection.Enumerate();
    ASSERT_EQ(detection.Devices().size(), m_presentPads + 3);
    EXPECT_NE(detection.GuidText(a + 1), detection.GuidText(a + 2));
}

TEST_F(ControllerDetectionTest, XInputFilterLeavesOutOtherJoysticks)
{
    VirtualPad stick("flight stick", SDL_JOYSTICK_TYPE_FLIGHT_STICK, 0x1234, 0x5678);
    VirtualPad other("other pad", SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0x054c, 0x09cc);
    auto xbox = Xbox360("xinput pad");
    ASSERT_TRUE(stick.Attached() && other.Attached() && xbox->Attached()) << SDL_GetError();

    CControllerDetection pads;
    pads.Enumerate();
    ASSERT_EQ(pads.Devices().size(), m_presentPads + 1);
    EXPECT_EQ(pads.Devices().back().instanceName, "xinput pad");
    EXPECT_EQ(pads.Devices().back().deviceType, CControllerDetection::kDeviceTypeGamePad);

    CControllerDetection all(false);
    all.Enumerate();
    ASSERT_EQ(all.Devices().size(), m_present + 3);
    EXPECT_EQ(all.Devices()[m_present].instanceName, "flight stick");
    EXPECT_EQ(all.Devices()[m_present].deviceType, CControllerDetection::kDeviceTypeJoystick);
    // The same device has the same GUID with or without the filter.
    EXPECT_EQ(all.Devices()[m_present + 2].instanceGuid, pads.Devices().back().instanceGuid);
}
