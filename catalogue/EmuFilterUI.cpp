#include "catalogue/EmuFilterUI.h"

#include "catalogue/FilterOptions.h"

using namespace UiLib;

const int CEmuFilterUI::kIds[19] = {0,   138, 125, 121, 130, 140, 124, 120, 127, 122,
                                    133, 119, 142, 129, 148, 131, 126, 123, 146};

LPCTSTR CEmuFilterUI::GetClass() const
{
    return u"EmuFilterUI";
}

void* CEmuFilterUI::GetInterface(std::u16string_view name)
{
    if (name == u"CEmuFilterUI")
        return this;
    if (name == kDispatchReceiverInterface)
        return static_cast<IDispatchReceiver*>(this);
    return CVerticalLayoutUI::GetInterface(name);
}

void CEmuFilterUI::DoInit()
{
    CVerticalLayoutUI::DoInit();
    AssignFilterOptionTags(this, kIds);
}

bool CEmuFilterUI::SelectId(int id)
{
    return SelectFilterOption(this, id);
}

void CEmuFilterUI::ReceiveDispatch(CControlUI* child)
{
    // Options added after the tree was built get their ids here too.
    AssignFilterOptionTags(this, kIds);
    SetTag(child->GetTag());
    SendNotify(u"click", GetTag());
}
