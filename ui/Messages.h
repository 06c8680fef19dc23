#pragma once

// The program's private window messages, numbered from WM_USER (1024). A number means something
// only to the window that receives it. Every one of them is posted (UiLib::PostMessage); where the
// long parameter carries a heap record, the receiving window frees it, and a message whose window
// is gone is freed together with its record.

#include "ui/UiTypes.h"

constexpr UiLib::UINT WM_GAME_ICON = UiLib::WM_USER + 104;            // 1128
constexpr UiLib::UINT WM_GAMEINFO_DESCRIPTION = UiLib::WM_USER + 105; // 1129
constexpr UiLib::UINT WM_GAMEINFO_SCREEN = UiLib::WM_USER + 106;      // 1130
constexpr UiLib::UINT WM_DOWNLOAD_PROGRESS = UiLib::WM_USER + 107;    // 1131
constexpr UiLib::UINT WM_DOWNLOAD_STATUS = UiLib::WM_USER + 109;      // 1133
constexpr UiLib::UINT WM_GAME_INSTALLED = UiLib::WM_USER + 110;       // 1134
constexpr UiLib::UINT WM_MYGAME_ICON = UiLib::WM_USER + 111;          // 1135
constexpr UiLib::UINT WM_DOWNLOAD_ADDED = UiLib::WM_USER + 113;       // 1137
constexpr UiLib::UINT WM_DOWNLOAD_REMOVED = UiLib::WM_USER + 114;     // 1138
constexpr UiLib::UINT WM_DOWNLOAD_ACTIVE = UiLib::WM_USER + 115;      // 1139
constexpr UiLib::UINT WM_DOWNLOAD_COUNTS = UiLib::WM_USER + 116;      // 1140
constexpr UiLib::UINT WM_LOCAL_GAME_ADDED = UiLib::WM_USER + 117;     // 1141
constexpr UiLib::UINT WM_LOCAL_ICON = UiLib::WM_USER + 118;           // 1142
constexpr UiLib::UINT WM_GAME_STATE = UiLib::WM_USER + 119;           // 1143
constexpr UiLib::UINT WM_PAD_COUNT = UiLib::WM_USER + 120;            // 1144
constexpr UiLib::UINT WM_MENU_COMMAND = UiLib::WM_USER + 121;         // 1145
constexpr UiLib::UINT WM_EMULIST_READY = UiLib::WM_USER + 124;        // 1148
constexpr UiLib::UINT WM_GAMELIST_READY = UiLib::WM_USER + 125;       // 1149
constexpr UiLib::UINT WM_SEARCHLIST_READY = UiLib::WM_USER + 127;     // 1151
constexpr UiLib::UINT WM_RUNNING_DOWNLOADS = UiLib::WM_USER + 128;    // 1152
constexpr UiLib::UINT WM_GAMELIST_FAILED = UiLib::WM_USER + 129;      // 1153

// The gamepad test window's own poller messages (1144 to 1147 there) and the installer window's
// progress record (1131) reuse numbers above; they are only meaningful to those windows.
constexpr UiLib::UINT WM_PADTEST_FIRST = UiLib::WM_USER + 120; // 1144
constexpr UiLib::UINT WM_PADTEST_LAST = UiLib::WM_USER + 123;  // 1147

// The tray icon's callback message (wParam: icon id, lParam: WM_LBUTTONUP or WM_RBUTTONUP).
constexpr UiLib::UINT WM_TRAY_NOTIFY = UiLib::WM_USER + 200;
