#pragma once

#include "platform/WindowMessages.h"

// The program's private window messages, numbered from WM_USER (1024). A number means something
// only to the window that receives it. All are posted; where lParam carries a heap record the
// receiving window frees it (an undelivered message frees it with itself).
inline constexpr platform::UINT kWmUser = 0x0400;

inline constexpr platform::UINT WM_GAME_ICON = kWmUser + 104;            // 1128
inline constexpr platform::UINT WM_GAMEINFO_DESCRIPTION = kWmUser + 105; // 1129
inline constexpr platform::UINT WM_GAMEINFO_SCREEN = kWmUser + 106;      // 1130
inline constexpr platform::UINT WM_DOWNLOAD_PROGRESS = kWmUser + 107;    // 1131
inline constexpr platform::UINT WM_DOWNLOAD_STATUS = kWmUser + 109;      // 1133
inline constexpr platform::UINT WM_GAME_INSTALLED = kWmUser + 110;       // 1134
inline constexpr platform::UINT WM_MYGAME_ICON = kWmUser + 111;          // 1135
inline constexpr platform::UINT WM_DOWNLOAD_ADDED = kWmUser + 113;       // 1137
inline constexpr platform::UINT WM_DOWNLOAD_REMOVED = kWmUser + 114;     // 1138
inline constexpr platform::UINT WM_DOWNLOAD_ACTIVE = kWmUser + 115;      // 1139
inline constexpr platform::UINT WM_DOWNLOAD_COUNTS = kWmUser + 116;      // 1140
inline constexpr platform::UINT WM_LOCAL_GAME_ADDED = kWmUser + 117;     // 1141
inline constexpr platform::UINT WM_LOCAL_ICON = kWmUser + 118;           // 1142
inline constexpr platform::UINT WM_GAME_STATE = kWmUser + 119;           // 1143
inline constexpr platform::UINT WM_PAD_COUNT = kWmUser + 120;            // 1144
inline constexpr platform::UINT WM_MENU_COMMAND = kWmUser + 121;         // 1145
inline constexpr platform::UINT WM_EMULIST_READY = kWmUser + 124;        // 1148
inline constexpr platform::UINT WM_GAMELIST_READY = kWmUser + 125;       // 1149
inline constexpr platform::UINT WM_SEARCHLIST_READY = kWmUser + 127;     // 1151
inline constexpr platform::UINT WM_RUNNING_DOWNLOADS = kWmUser + 128;    // 1152
inline constexpr platform::UINT WM_GAMELIST_FAILED = kWmUser + 129;      // 1153
