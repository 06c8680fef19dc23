#pragma once

#include <span>

#include "ui/Container.h"

// Shared by the filter bars: their forwarding options, counted in layout order (depth first),
// stand for the ids of a fixed list.

// Gives the k-th forwarding option under `filter` the k-th id as its tag; options beyond the
// list keep tag 0.
void AssignFilterOptionTags(UiLib::CContainerUI* filter, std::span<const int> ids);
// Selects, without notifying, the forwarding option under `filter` whose tag is `id`; false when
// none has it (the selection is then left as it was).
bool SelectFilterOption(UiLib::CContainerUI* filter, int id);
