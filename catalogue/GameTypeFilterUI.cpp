#include "catalogue/GameTypeFilterUI.h"

#include "catalogue/FilterOptions.h"

using namespace UiLib;

namespace {

constexpr int kTypeIds[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

} // namespace

LPCTSTR CGameTypeFilterUI::GetClass() const
{
    return u"GameTypeFilterUI";
}

void* CGameTypeFilterUI::GetInterface(std::u16string_view name)
{
    if (name == u"CGameTypeFilterUI")
        return this;
    if (name == kDispatchReceiverInterface)
        return static_cast<IDispatchReceiver*>(this);
    return CHorizontalLayoutUI::GetInterface(name);
}

std::span<const int> CGameTypeFilterUI::Ids() const
{
    return kTypeIds;
}

void CGameTypeFilterUI::DoInit()
{
    CHorizontalLayoutUI::DoInit();
    AssignFilterOptionTags(this, Ids());
}

bool CGameTypeFilterUI::SelectId(int id)
{
    return SelectFilterOption(this, id);
}

void CGameTypeFilterUI::ReceiveDispatch(CControlUI* child)
{
    AssignFilterOptionTags(this, Ids());
    SetTag(child->GetTag());
    SendNotify(u"click", GetTag());
}
