#include "catalogue/NoticeContent.h"

#include "ui/DialogBuilder.h"
#include "ui/Label.h"

using namespace UiLib;

void BuildNoticeContent(CContainerUI* notice, const char16_t* layout, const char16_t* labelName,
                        const char16_t* text)
{
    if (notice->GetCount() > 0)
        return;
    CDialogBuilder builder;
    if (builder.Create(layout, nullptr, notice->GetManager(), notice) != nullptr)
        return;
    auto* label = new CLabelUI;
    label->SetName(labelName);
    label->SetText(text);
    label->SetAttribute(u"align", u"center");
    notice->Add(label);
}
