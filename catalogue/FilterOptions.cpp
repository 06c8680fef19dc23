#include "catalogue/FilterOptions.h"

#include <vector>

#include "catalogue/DispatchEventOptionUI.h"

using namespace UiLib;

namespace {

std::vector<CDispatchEventOptionUI*> ForwardingOptions(CContainerUI* filter)
{
    std::vector<CDispatchEventOptionUI*> options;
    filter->FindControl([&](CControlUI* control) {
        if (control != filter && control->GetClass() == std::u16string_view(u"DispatchEventOptionUI"))
            options.push_back(static_cast<CDispatchEventOptionUI*>(control));
        return false;
    });
    return options;
}

} // namespace

void AssignFilterOptionTags(CContainerUI* filter, std::span<const int> ids)
{
    std::vector<CDispatchEventOptionUI*> options = ForwardingOptions(filter);
    for (size_t k = 0; k < options.size(); ++k)
        options[k]->SetTag(k < ids.size() ? static_cast<UINT_PTR>(ids[k]) : 0);
}

bool SelectFilterOption(CContainerUI* filter, int id)
{
    for (CDispatchEventOptionUI* option : ForwardingOptions(filter)) {
        if (option->GetTag() == static_cast<UINT_PTR>(id)) {
            option->Selected(true, false);
            return true;
        }
    }
    return false;
}
