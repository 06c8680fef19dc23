#pragma once

#include "catalogue/GameTypeFilterUI.h"

// The order filter: options "推荐", "最新", "热门" stand for the orders 0, 1 and 2.
class CGameRankfilter : public CGameTypeFilterUI {
public:
    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

protected:
    std::span<const int> Ids() const override;
};
