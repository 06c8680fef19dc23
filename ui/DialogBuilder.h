#pragma once

// CDialogBuilder: builds a control tree from an XML layout.
//
// A layout is either a file of the skin ("skin\xmls\X.xml" or "skin/xmls/X.xml", looked up as
// CPaintManagerUI::LoadSkinFile does) or, when the text starts with '<', the XML itself. Its root
// is a Window element, whose attributes set the window's size ("size"), caption band ("caption"
// l,t,r,b; a bottom of 0 or less counts from the bottom), round corners ("roundcorner"), size box
// ("sizebox"), minimum and maximum size ("mininfo", "maxinfo"), default text colours; whose Font
// children register fonts (id, name, size, bold, underline, italic, default) and whose Default
// children give attribute lists per control tag (name, value). Its one control child is the
// root of the tree. A layout whose root is a control (an item template) builds that control.
//
// Tags name toolkit controls (VerticalLayout, HorizontalLayout, TileLayout, TabLayout,
// AnimationTabLayout, Container, Control, Label, Text, Button, Option, CheckBox, Edit, RichEdit,
// Progress, List, ListContainerElement, ListLabelElement, TreeView, TreeNode, GifAnim, Menu,
// MenuElement); any other tag goes to the callback, and an element nobody makes is skipped with
// its children (with a trace).

#include <memory>

#include "ui/Control.h"
#include "ui/DuiString.h"

namespace UiLib {

class CPaintManagerUI;

// Makes the program's own controls for layout tags the toolkit does not know.
class IDialogBuilderCallback {
public:
    // A new control for the tag (the builder owns it from then on), or null.
    virtual CControlUI* CreateControl(LPCTSTR pstrClass) = 0;

protected:
    ~IDialogBuilderCallback() = default;
};

class CDialogBuilder {
public:
    CDialogBuilder();
    ~CDialogBuilder();
    CDialogBuilder(const CDialogBuilder&) = delete;
    CDialogBuilder& operator=(const CDialogBuilder&) = delete;

    // Loads (and keeps) the layout, then builds it. Null when the layout cannot be read or parsed,
    // or has no control. With `parent`, the built controls are also added to that container.
    CControlUI* Create(const CDuiString& xml, IDialogBuilderCallback* callback = nullptr,
                       CPaintManagerUI* manager = nullptr, CControlUI* parent = nullptr);
    // Builds the layout loaded before again (item templates made many times).
    CControlUI* Create(IDialogBuilderCallback* callback = nullptr, CPaintManagerUI* manager = nullptr,
                       CControlUI* parent = nullptr);
    // Loads a layout without building it; false (with a trace) when it cannot be read or parsed.
    bool Load(const CDuiString& xml);
    bool IsLoaded() const;
    // The parse error of the last Load, empty after success.
    const std::string& GetLastError() const { return m_lastError; }

    // Makes one toolkit control by tag (letter case ignored); null for an unknown tag.
    static CControlUI* CreateBuiltinControl(std::u16string_view tag);

private:
    struct Doc;
    std::unique_ptr<Doc> m_doc;
    std::string m_lastError;
};

} // namespace UiLib
