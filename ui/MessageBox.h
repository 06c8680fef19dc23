#pragma once

// Message boxes and the folder picker. Both are modal on the UI thread (use RunOnUiThread from a
// worker). Tests put an answerer in place so nothing waits for a person.

#include <functional>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

// Shows `text` with `caption` and the buttons of `type` (MB_OK, MB_OKCANCEL, MB_YESNO); answers
// IDOK, IDCANCEL, IDYES or IDNO (IDCANCEL/IDNO when closed without a choice).
int MessageBox(HWND owner, const CDuiString& text, const CDuiString& caption, UINT type = MB_OK);

// Asks for a folder; true with the chosen folder (ending with '/') in `folder`, false when the
// user cancels. `folder` on entry is where the picker starts.
bool BrowseForFolder(HWND owner, const CDuiString& title, CDuiString& folder);

using MessageBoxAnswerer =
    std::function<int(HWND owner, const CDuiString& text, const CDuiString& caption, UINT type)>;
using FolderAnswerer = std::function<bool(HWND owner, const CDuiString& title, CDuiString& folder)>;
// Replaces the real dialogs (an empty function restores them); returns the previous answerer.
MessageBoxAnswerer SetMessageBoxAnswerer(MessageBoxAnswerer answerer);
FolderAnswerer SetFolderAnswerer(FolderAnswerer answerer);

} // namespace UiLib
