#pragma once

#include <array>

// What the page selector under the catalogue grids shows for one (current page, total games)
// pair: which of its seven page options are visible and which page each stands for, the two
// ellipsis labels, the previous and next buttons and the row's width. The control applies it.
struct PageLabelLayout {
    static constexpr int kOptionCount = 7;

    bool visible = false;                   // false: the whole selector is hidden
    int pageCount = 0;                      // N
    std::array<int, kOptionCount> pages{};  // the page each option stands for (also its tag and text)
    std::array<bool, kOptionCount> shown{}; // whether each option is visible
    bool tip1 = false;                      // ellipsis after the first option
    bool tip2 = false;                      // ellipsis before the last option
    int selected = -1;                      // index of the option for the current page, -1 for none
    bool previousEnabled = false;
    bool nextEnabled = false;
    int width = 0;
};

// Lays the selector out for page `page` of `total` games at `perPage` games a page, with items
// `itemWidth` wide. A page below 1, a total below 1 or a page size below 1 hides the selector.
PageLabelLayout ComputePageLabelLayout(int page, int total, int perPage, int itemWidth);
