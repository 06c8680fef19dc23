#include "catalogue/GameRankfilter.h"

using namespace UiLib;

namespace {

constexpr int kOrderIds[3] = {0, 1, 2};

} // namespace

LPCTSTR CGameRankfilter::GetClass() const
{
    return u"GameRankfilter";
}

void* CGameRankfilter::GetInterface(std::u16string_view name)
{
    if (name == u"CGameRankfilter")
        return this;
    return CGameTypeFilterUI::GetInterface(name);
}

std::span<const int> CGameRankfilter::Ids() const
{
    return kOrderIds;
}
