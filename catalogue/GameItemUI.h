#pragma once

#include <string>

#include "catalogue/DispatchReceiver.h"
#include "ui/HorizontalLayout.h"

class CGame;
struct GameinfoRecord;
struct LocalGameRecord;

// A game tile of the catalogue, search, download and library views. Its buttons are forwarding
// buttons; a click on one sends "click" with the tile as sender, wParam = 1 install, 2 delete,
// 3 open, 4 rename, 0 any other, and lParam = the button's tag. A clickable tile ("click"
// attribute) sends "click" with wParam 0 when released inside it. While the pointer is over
// the tile a border of "hotbordersize" in "hotbordcolor" is drawn over the normal one.
class CGameItemUI : public UiLib::CHorizontalLayoutUI, public IDispatchReceiver {
public:
    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    void DoInit() override;
    void DoEvent(UiLib::TEventUI& event) override;
    void PaintBorder(UiLib::HDC hDC) override;
    void ReceiveDispatch(UiLib::CControlUI* child) override;

    // Fills the tile from a catalogue game: badge, cleared icon, name, category, size.
    void FillFromGame(const CGame& game);
    // Fills a downloaded-game tile from its library row: badge, cleared icon, name, category, size;
    // the install button's tag becomes 8 (installed) with its text left as the layout has it.
    void FillFromInstalled(const GameinfoRecord& game);
    // Fills a local-game tile: badge, cleared icon, name, size; install button tag 8.
    void FillFromLocal(const LocalGameRecord& game);
    // Shows the icon (an image path, or a skin path such as "skin\ui\DefaultGameIcon.png").
    void SetIcon(const UiLib::CDuiString& imagePath);
    // Install-button state: 0 "安装", 2 "下载中", 3 "暂停", 4 "等待", 5 "安装中", 6 "暂停",
    // 8 "启动"; any other state leaves the button as it is.
    void SetInstallState(int state);
    // The platform badge for an emulator id ("PS.png" ...), empty for an unknown id.
    static std::u16string BadgeImage(int emulatorId);

    bool IsHot() const { return m_bHot; }
    bool IsClickable() const { return m_bClickable; }
    UiLib::DWORD GetHotBorderColor() const { return m_dwHotBorderColor; }
    int GetHotBorderSize() const { return m_nHotBorderSize; }

private:
    void SetChildText(std::u16string_view name, const UiLib::CDuiString& text);
    void FillCommon(const std::string& emulatorId, const std::string& name, const std::string& size);
    void MarkInstalled();
    void UpdateHot();

    UiLib::DWORD m_dwHotBorderColor = 0;
    int m_nHotBorderSize = 0;
    bool m_bClickable = false;
    bool m_bHot = false;
    bool m_bPushed = false;
};
