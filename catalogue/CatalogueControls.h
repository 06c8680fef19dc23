#pragma once

#include <string_view>

namespace UiLib {
class CControlUI;
}

// The catalogue's own controls for a layout's tag (the tag's letter case does not matter): game
// tiles, the platform, genre and order filters, the pager, the loading and failure panes and the
// buttons that hand their clicks on. Null for any other tag, which the caller may know itself.
UiLib::CControlUI* CreateCatalogueControl(std::u16string_view tag);
