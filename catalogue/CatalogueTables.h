#pragma once

#include <array>
#include <string>

// Fixed tables of the catalogue's controls.

// Platform filter ids, in the order of the filter's options: 全部, PC, FC, SFC, N64, WII, GBC, GBA,
// NDS, MD, DC, PS, PS2, PSP, PCE, WSC, ARCADE, MAME, MAME+.
inline constexpr std::array<int, 19> kEmuFilterIds = {0,   138, 125, 121, 130, 140, 124, 120, 127, 122,
                                                      133, 119, 142, 129, 148, 131, 126, 123, 146};

// The badge image of a platform (emulator id as decimal text), such as "PS.png"; empty for an
// unknown id, which leaves a tile's badge unchanged.
std::string BadgeImage(const std::string& emulatorId);

// The full background attribute for a tile's badge, "file='skin\ui\PS.png' dest='217,0,253,36'";
// empty for an unknown id.
std::string BadgeAttribute(const std::string& emulatorId);

// The install button's text (UTF-8) for a display status; nullptr for the states that leave it unchanged
// (1, 7 and anything unknown).
const char* InstallStateText(int state);

// A category text (process code page) as tiles show it: every "游戏" removed.
std::string CategoryDisplayText(std::string category);
