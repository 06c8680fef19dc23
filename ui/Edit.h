#pragma once

#include <memory>

#include "ui/Label.h"

namespace UiLib {

// A one-line text field. While it has the focus a real editor sits over it (input methods,
// selection, the clipboard); it sends "textchanged" on each edit and "return" on Enter.
// Attributes: readonly, password, maxchar, numberonly, prompttext, prompttextcolor.
class CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    UINT GetControlFlags() const override;

    void SetText(const CDuiString& text) override;
    bool IsReadOnly() const { return m_bReadOnly; }
    void SetReadOnly(bool readOnly);
    bool IsPasswordMode() const { return m_bPassword; }
    void SetPasswordMode(bool password);
    int GetMaxChar() const { return m_iMaxChar; }
    void SetMaxChar(int maxChar);
    void SetPromptText(const CDuiString& text);
    // Whether the hosted editor is up (the control has the focus).
    bool IsEditing() const;

    void SetPos(RECT rc, bool needInvalidate = true) override;
    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void DoEvent(TEventUI& event) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    void OpenEditor();
    void CloseEditor();

    struct Host;
    std::unique_ptr<Host> m_host;
    bool m_bReadOnly = false;
    bool m_bPassword = false;
    bool m_bNumberOnly = false;
    int m_iMaxChar = 255;
    CDuiString m_sPrompt;
    DWORD m_dwPromptColor = 0xFFA0A7B1;
};

} // namespace UiLib
