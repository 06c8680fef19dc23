#pragma once

#include "foundation/JsonObjectBase.h"

#include <cstdint>
#include <string>

// The user API's answer to a registration. Only uid and ticket are used; the rest is kept because
// the answer carries it.
class CUserInfo : public CJsonObjectBase {
public:
    CUserInfo() { BindFields(); }
    CUserInfo(const CUserInfo&) = delete;
    CUserInfo& operator=(const CUserInfo&) = delete;

    void BindFields() override;

    int32_t status = 0;
    std::string uid;
    std::string username;
    bool prohibited = false;
    std::string msg;
    std::string ticket;
    float _run_time = 0.0f;
};
