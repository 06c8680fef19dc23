#pragma once

#include "catalogue/Game.h"

#include <string>
#include <vector>

// A game's detail record: every key of a catalogue game plus its introduction and screenshots.
class CGameInfo : public CGame {
public:
    CGameInfo() : CGame(false) { BindFields(); }
    CGameInfo(const CGameInfo&) = delete;
    CGameInfo& operator=(const CGameInfo&) = delete;

    void BindFields() override;

    std::string description;
    std::string commentcount;
    std::vector<std::string> screens; // screenshot paths on the image server (UTF-8), in display order
};

// The answer to a detail request. Owns its game.
class CGameInfoObj : public CJsonObjectBase {
public:
    CGameInfoObj() { BindFields(); }
    CGameInfoObj(const CGameInfoObj&) = delete;
    CGameInfoObj& operator=(const CGameInfoObj&) = delete;

    void BindFields() override;

    int32_t status = 0;
    CGameInfo gameinfo;
    int32_t count = 0;
    std::string msg;
    float _run_time = 0.0f;
};
