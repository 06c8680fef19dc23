#pragma once

#include "foundation/JsonObjectBase.h"

#include <cstdint>
#include <string>

// The share service's answer to a download request: `errno` 0 with the direct link in `dlink`, -19
// when it wants the code of the picture at `img` sent back with `vcode`, 2 when it refuses.
class CBaiduPanResponse : public CJsonObjectBase {
public:
    CBaiduPanResponse() { BindFields(); }
    CBaiduPanResponse(const CBaiduPanResponse&) = delete;
    CBaiduPanResponse& operator=(const CBaiduPanResponse&) = delete;

    void BindFields() override;

    int32_t errnum = 0; // the answer's "errno"
    int64_t request_id = 0;
    std::string dlink;
    std::string img;
    std::string vcode;
};
