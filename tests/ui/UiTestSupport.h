#pragma once

// Shared by the UiLib tests: the toolkit started once on the offscreen platform with images drawn
// for the test skin; the recording dialog of the test support under this suite's names.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/OffscreenUi.h"
#include "tests/support/TestDialog.h"
#include "ui/Control.h"
#include "ui/TestInput.h"

namespace uitest {

using testsupport::CentreOf;
using testsupport::Note;
using testsupport::TestDialog;

// RGB of an ARGB pixel, for comparisons.
inline std::uint32_t Rgb(std::uint32_t argb)
{
    return argb & 0xFFFFFF;
}
// Whether two colours are within `tolerance` on every channel.
bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 12);
// The folder with the images the tests drew (skin/ui/*.png under it).
const std::string& ImageFolder();

} // namespace uitest
