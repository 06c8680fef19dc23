#include "catalogue/PageLabelLayout.h"

PageLabelLayout ComputePageLabelLayout(int page, int total, int perPage, int itemWidth)
{
    PageLabelLayout layout;
    if (page < 1 || total < 1 || perPage < 1)
        return layout;

    layout.visible = true;
    const int n = total / perPage + (total % perPage ? 1 : 0);
    layout.pageCount = n;

    if (n > PageLabelLayout::kOptionCount) {
        layout.tip1 = page > 4;
        layout.tip2 = n - page > 3;
        // Both ellipses: eleven items; one ellipsis: ten.
        layout.width = itemWidth * (layout.tip1 && layout.tip2 ? 11 : 10);
        if (layout.tip1 && !layout.tip2)
            layout.pages = {1, n - 5, n - 4, n - 3, n - 2, n - 1, n};
        else if (!layout.tip1 && layout.tip2)
            layout.pages = {1, 2, 3, 4, 5, 6, n};
        else
            layout.pages = {1, page - 2, page - 1, page, page + 1, page + 2, n};
        layout.shown.fill(true);
    } else {
        for (int i = 0; i < PageLabelLayout::kOptionCount; ++i) {
            layout.pages[i] = i + 1;
            layout.shown[i] = i < n;
        }
        layout.width = itemWidth * (n + 2);
    }

    for (int i = 0; i < PageLabelLayout::kOptionCount; ++i) {
        if (layout.pages[i] == page && layout.shown[i]) {
            layout.selected = i;
            break;
        }
    }

    if (n > 1) {
        layout.previousEnabled = page > 1;
        layout.nextEnabled = page < n;
    }
    return layout;
}
