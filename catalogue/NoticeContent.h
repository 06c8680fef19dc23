#pragma once

#include "ui/Container.h"

// Fills an empty notice container from its skin layout; when the layout cannot be had, a single
// centred label named `labelName` with `text` stands in, so the notice still says something.
void BuildNoticeContent(UiLib::CContainerUI* notice, const char16_t* layout, const char16_t* labelName,
                        const char16_t* text);
