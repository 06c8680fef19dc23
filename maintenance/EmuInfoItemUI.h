#pragma once

#include "ui/TreeView.h"

// One emulator in the settings window's emulator tree (layout tag "EmuInfoItem"): a tree node that
// opens to its "SelectHeight" when selected, showing its description and buttons, and folds back to
// its "UnSelectHeight" when another row is selected. Its class name stays "TreeNodeUI", so the tree
// treats it as any node; GetInterface also answers "EmuInfoItemUI".
class CEmuInfoItemUI : public UiLib::CTreeNodeUI {
public:
    void* GetInterface(std::u16string_view name) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    // Sets the fixed height for the new state; the list lays itself out again for the new height.
    void OnSelectChanged(bool selected) override;

    int GetSelectHeight() const { return m_selectHeight; }
    int GetUnSelectHeight() const { return m_unSelectHeight; }

private:
    int m_selectHeight = 0;
    int m_unSelectHeight = 0;
};
