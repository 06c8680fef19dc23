#include "catalogue/CatalogueControls.h"

#include "catalogue/DispatchEventButtonUI.h"
#include "catalogue/DispatchEventOptionUI.h"
#include "catalogue/EmuFilterUI.h"
#include "catalogue/GameItemUI.h"
#include "catalogue/GameRankfilter.h"
#include "catalogue/GameTypeFilterUI.h"
#include "catalogue/LoadingFailUI.h"
#include "catalogue/LoadingUI.h"
#include "catalogue/PageLabelUI.h"
#include "ui/DuiString.h"

using namespace UiLib;

CControlUI* CreateCatalogueControl(std::u16string_view tag)
{
    auto is = [tag](std::u16string_view name) { return EqualsNoCase(tag, name); };
    if (is(u"GameItem"))
        return new CGameItemUI;
    if (is(u"PageLabel"))
        return new CPageLabelUI;
    if (is(u"EmuFilter"))
        return new CEmuFilterUI;
    if (is(u"GameTypeFilter"))
        return new CGameTypeFilterUI;
    if (is(u"DispatchEventOption"))
        return new CDispatchEventOptionUI;
    if (is(u"DispatchEventButton"))
        return new CDispatchEventButtonUI;
    if (is(u"GameRankfilter"))
        return new CGameRankfilter;
    if (is(u"Loading"))
        return new CLoadingUI;
    if (is(u"LoadingFail"))
        return new CLoadingFailUI;
    return nullptr;
}
