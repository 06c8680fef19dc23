#pragma once

#include <string>
#include <vector>

#include "ui/TileLayout.h"

// A tile view that takes files dropped on it. While files are dragged over it a frame of
// "Dropbordersize" pixels in "dropbordcolor" (hexadecimal ARGB, with or without a leading "#") is
// drawn inside it, kept fresh by the timer kDragTimerId; the frame goes when the drag leaves or
// ends. A drop sends "click" from the view with wParam = the number of paths and lParam = a
// const std::vector<std::string>* of their native file-system names, valid during the call.
class CDropTileLayoutUI : public UiLib::CTileLayoutUI {
public:
    static constexpr UiLib::UINT kDragTimerId = 100;
    static constexpr UiLib::UINT kDragTimerMs = 100;

    CDropTileLayoutUI();

    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    void DoEvent(UiLib::TEventUI& event) override;
    void DoPaint(UiLib::HDC hDC, const UiLib::RECT& rcPaint) override;

    UiLib::DWORD GetDropBorderColor() const { return m_dwDropBorderColor; }
    void SetDropBorderColor(UiLib::DWORD color);
    int GetDropBorderSize() const { return m_nDropBorderSize; }
    void SetDropBorderSize(int size);
    // Whether files are being dragged over the view now.
    bool IsDropHighlighted() const { return m_bDropHighlight; }

private:
    void SetHighlight(bool on);

    UiLib::DWORD m_dwDropBorderColor = 0;
    int m_nDropBorderSize = 0;
    bool m_bDropHighlight = false;
};
