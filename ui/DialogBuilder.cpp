#include "ui/DialogBuilder.h"

#include <pugixml.hpp>
#include <strings.h>

#include "platform/Trace.h"
#include "ui/AnimationTabLayout.h"
#include "ui/Button.h"
#include "ui/Container.h"
#include "ui/Edit.h"
#include "ui/GifAnim.h"
#include "ui/HorizontalLayout.h"
#include "ui/Label.h"
#include "ui/List.h"
#include "ui/MenuWnd.h"
#include "ui/Option.h"
#include "ui/PaintManager.h"
#include "ui/Progress.h"
#include "ui/RichEdit.h"
#include "ui/TabLayout.h"
#include "ui/Text.h"
#include "ui/TileLayout.h"
#include "ui/TreeView.h"
#include "ui/VerticalLayout.h"

namespace UiLib {

struct CDialogBuilder::Doc {
    pugi::xml_document xml;
};

namespace {

CDuiString U16(const char* utf8)
{
    return CDuiString::FromUtf8(utf8 != nullptr ? utf8 : "");
}

bool IsTag(const pugi::xml_node& node, const char* name)
{
    return strcasecmp(node.name(), name) == 0;
}

// Layouts nest a few dozen levels; anything deeper than this is refused rather than risking the stack.
constexpr int kMaxDepth = 200;

bool TooDeep(const pugi::xml_node& root)
{
    // Iterative walk: the check itself must not recurse.
    int depth = 0;
    pugi::xml_node node = root;
    while (node) {
        if (node.first_child()) {
            node = node.first_child();
            if (++depth > kMaxDepth)
                return true;
            continue;
        }
        while (node && !node.next_sibling() && node != root) {
            node = node.parent();
            --depth;
        }
        if (!node || node == root)
            break;
        node = node.next_sibling();
    }
    return false;
}

void ApplyWindowAttributes(const pugi::xml_node& window, CPaintManagerUI* pm)
{
    for (pugi::xml_attribute attr : window.attributes()) {
        CDuiString value = U16(attr.value());
        std::string name = attr.name();
        RECT rc;
        SIZE sz;
        DWORD color;
        if (name == "size" && ParseSize(value, sz)) {
            pm->SetInitSize(sz.cx, sz.cy);
        } else if (name == "caption" && ParseRect(value, rc)) {
            pm->SetCaptionRect(rc);
        } else if (name == "roundcorner" && ParseSize(value, sz)) {
            pm->SetRoundCorner(sz.cx, sz.cy);
        } else if (name == "sizebox" && ParseRect(value, rc)) {
            pm->SetSizeBox(rc);
        } else if (name == "mininfo" && ParseSize(value, sz)) {
            pm->SetMinInfo(sz.cx, sz.cy);
        } else if (name == "maxinfo" && ParseSize(value, sz)) {
            pm->SetMaxInfo(sz.cx, sz.cy);
        } else if (name == "defaultfontcolor" && ParseColor(value, color)) {
            pm->SetDefaultFontColor(color);
        } else if (name == "disabledfontcolor" && ParseColor(value, color)) {
            pm->SetDefaultDisabledColor(color);
        } else if (name == "focusringcolor" && ParseColor(value, color)) {
            pm->SetFocusRingColor(color);
        } else {
            platform::TraceF("UiLib: Window attribute %s='%s' ignored", attr.name(), attr.value());
        }
    }
}

} // namespace

CDialogBuilder::CDialogBuilder() = default;
CDialogBuilder::~CDialogBuilder() = default;

bool CDialogBuilder::IsLoaded() const
{
    return m_doc != nullptr;
}

bool CDialogBuilder::Load(const CDuiString& xml)
{
    m_doc.reset();
    m_lastError.clear();
    std::string bytes;
    std::string text = xml.ToUtf8();
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '<') {
        bytes = text;
    } else if (!CPaintManagerUI::LoadSkinFile(xml, bytes)) {
        m_lastError = "layout not found: " + text;
        platform::TraceF("UiLib: %s", m_lastError.c_str());
        return false;
    }
    auto doc = std::make_unique<Doc>();
    pugi::xml_parse_result result =
        doc->xml.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        m_lastError =
            std::string("layout ") + (first != std::string::npos && text[first] == '<' ? "text" : text) +
            " is malformed at offset " + std::to_string(result.offset) + ": " + result.description();
        platform::TraceF("UiLib: %s", m_lastError.c_str());
        return false;
    }
    if (!doc->xml.document_element()) {
        m_lastError = "layout has no root element";
        return false;
    }
    if (TooDeep(doc->xml.document_element())) {
        m_lastError = "layout nests deeper than " + std::to_string(kMaxDepth) + " levels";
        platform::TraceF("UiLib: %s", m_lastError.c_str());
        return false;
    }
    m_doc = std::move(doc);
    return true;
}

CControlUI* CDialogBuilder::Create(const CDuiString& xml, IDialogBuilderCallback* callback,
                                   CPaintManagerUI* manager, CControlUI* parent)
{
    if (!Load(xml))
        return nullptr;
    return Create(callback, manager, parent);
}

CControlUI* CDialogBuilder::CreateBuiltinControl(std::u16string_view tag)
{
    struct Entry {
        std::u16string_view tag;
        CControlUI* (*make)();
    };
    static const Entry kEntries[] = {
        {u"Control", [] { return static_cast<CControlUI*>(new CControlUI); }},
        {u"Container", [] { return static_cast<CControlUI*>(new CContainerUI); }},
        {u"VerticalLayout", [] { return static_cast<CControlUI*>(new CVerticalLayoutUI); }},
        {u"HorizontalLayout", [] { return static_cast<CControlUI*>(new CHorizontalLayoutUI); }},
        {u"TileLayout", [] { return static_cast<CControlUI*>(new CTileLayoutUI); }},
        {u"TabLayout", [] { return static_cast<CControlUI*>(new CTabLayoutUI); }},
        {u"AnimationTabLayout", [] { return static_cast<CControlUI*>(new CAnimationTabLayoutUI); }},
        {u"Label", [] { return static_cast<CControlUI*>(new CLabelUI); }},
        {u"Text", [] { return static_cast<CControlUI*>(new CTextUI); }},
        {u"Button", [] { return static_cast<CControlUI*>(new CButtonUI); }},
        {u"Option", [] { return static_cast<CControlUI*>(new COptionUI); }},
        {u"CheckBox", [] { return static_cast<CControlUI*>(new COptionUI); }},
        {u"Edit", [] { return static_cast<CControlUI*>(new CEditUI); }},
        {u"RichEdit", [] { return static_cast<CControlUI*>(new CRichEditUI); }},
        {u"Progress", [] { return static_cast<CControlUI*>(new CProgressUI); }},
        {u"List", [] { return static_cast<CControlUI*>(new CListUI); }},
        {u"ListContainerElement", [] { return static_cast<CControlUI*>(new CListContainerElementUI); }},
        {u"ListLabelElement", [] { return static_cast<CControlUI*>(new CListLabelElementUI); }},
        {u"TreeView", [] { return static_cast<CControlUI*>(new CTreeViewUI); }},
        {u"TreeNode", [] { return static_cast<CControlUI*>(new CTreeNodeUI); }},
        {u"GifAnim", [] { return static_cast<CControlUI*>(new CGifAnimUI); }},
        {u"Menu", [] { return static_cast<CControlUI*>(new CMenuUI); }},
        {u"MenuElement", [] { return static_cast<CControlUI*>(new CMenuElementUI); }},
    };
    for (const Entry& entry : kEntries) {
        if (EqualsNoCase(entry.tag, tag))
            return entry.make();
    }
    return nullptr;
}

namespace {

CControlUI* BuildNode(const pugi::xml_node& node, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                      CControlUI* parent);

void BuildChildren(const pugi::xml_node& node, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                   CControlUI* parent)
{
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element)
            continue;
        BuildNode(child, callback, manager, parent);
    }
}

CControlUI* BuildNode(const pugi::xml_node& node, IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                      CControlUI* parent)
{
    CDuiString tag = U16(node.name());
    CControlUI* control = CDialogBuilder::CreateBuiltinControl(tag);
    if (control == nullptr && callback != nullptr)
        control = callback->CreateControl(tag.GetData());
    if (control == nullptr) {
        platform::TraceF("UiLib: layout tag <%s> makes no control; skipped", node.name());
        return nullptr;
    }
    std::unique_ptr<CControlUI> owner(control);
    // Default attributes of the tag first, then the element's own.
    if (manager != nullptr) {
        if (const CDuiString* defaults = manager->GetDefaultAttributeList(tag))
            control->ApplyAttributeList(*defaults);
    }
    for (pugi::xml_attribute attr : node.attributes())
        control->SetAttribute(U16(attr.name()), U16(attr.value()));

    // Children are built before the control joins its parent, so a parent sees complete children.
    if (node.first_child()) {
        if (CContainerUI* container = control->AsContainer())
            BuildChildren(node, callback, manager, container);
        else
            platform::TraceF("UiLib: <%s> holds no children; its child elements are skipped", node.name());
    }
    if (parent != nullptr) {
        CContainerUI* container = parent->AsContainer();
        if (container == nullptr || !container->Add(control)) {
            platform::TraceF("UiLib: <%s> could not join its parent", node.name());
            return nullptr; // owner deletes it
        }
    }
    return owner.release();
}

} // namespace

CControlUI* CDialogBuilder::Create(IDialogBuilderCallback* callback, CPaintManagerUI* manager,
                                   CControlUI* parent)
{
    if (!m_doc)
        return nullptr;
    pugi::xml_node root = m_doc->xml.document_element();
    if (IsTag(root, "Window")) {
        if (manager != nullptr) {
            for (pugi::xml_node child : root.children()) {
                if (IsTag(child, "Font")) {
                    int id = child.attribute("id").as_int(-1);
                    CDuiString name = U16(child.attribute("name").value());
                    int size = child.attribute("size").as_int(12);
                    bool bold = child.attribute("bold").as_bool();
                    bool underline = child.attribute("underline").as_bool();
                    bool italic = child.attribute("italic").as_bool();
                    manager->AddFont(id, name, size, bold, underline, italic);
                    if (child.attribute("default").as_bool())
                        manager->SetDefaultFont(name, size, bold, underline, italic);
                } else if (IsTag(child, "Default")) {
                    manager->AddDefaultAttributeList(U16(child.attribute("name").value()),
                                                     U16(child.attribute("value").value()));
                }
            }
            ApplyWindowAttributes(root, manager);
        }
        for (pugi::xml_node child : root.children()) {
            if (child.type() != pugi::node_element || IsTag(child, "Font") || IsTag(child, "Default") ||
                IsTag(child, "Image"))
                continue;
            CControlUI* built = BuildNode(child, callback, manager, parent);
            if (built != nullptr)
                return built;
        }
        platform::Trace("UiLib: layout has no control");
        return nullptr;
    }
    return BuildNode(root, callback, manager, parent);
}

} // namespace UiLib
