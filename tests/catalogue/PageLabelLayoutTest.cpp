#include "catalogue/PageLabelLayout.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int kPerPage = 42;
constexpr int kItem = 36;

// The numbers of the visible options, in order.
std::vector<int> ShownPages(const PageLabelLayout& layout)
{
    std::vector<int> pages;
    for (int i = 0; i < PageLabelLayout::kOptionCount; ++i)
        if (layout.shown[i])
            pages.push_back(layout.pages[i]);
    return pages;
}

int SelectedPage(const PageLabelLayout& layout) { return layout.selected < 0 ? 0 : layout.pages[layout.selected]; }

} // namespace

TEST(PageLabelLayoutTest, NothingToPageHidesTheSelector)
{
    EXPECT_FALSE(ComputePageLabelLayout(1, 0, kPerPage, kItem).visible);
    EXPECT_FALSE(ComputePageLabelLayout(0, 100, kPerPage, kItem).visible);
    EXPECT_FALSE(ComputePageLabelLayout(1, 100, 0, kItem).visible) << "a zero page size must not divide";
}

TEST(PageLabelLayoutTest, FewPagesShowEveryNumberWithoutEllipses)
{
    auto one = ComputePageLabelLayout(1, 42, kPerPage, kItem);
    EXPECT_EQ(ShownPages(one), std::vector<int>{1});
    EXPECT_EQ(one.width, 108);
    EXPECT_FALSE(one.previousEnabled);
    EXPECT_FALSE(one.nextEnabled);
    EXPECT_EQ(SelectedPage(one), 1);

    auto two = ComputePageLabelLayout(1, 43, kPerPage, kItem);
    EXPECT_EQ(ShownPages(two), (std::vector<int>{1, 2}));
    EXPECT_EQ(two.width, 144);
    EXPECT_FALSE(two.previousEnabled);
    EXPECT_TRUE(two.nextEnabled);

    auto seven = ComputePageLabelLayout(7, 7 * kPerPage, kPerPage, kItem);
    EXPECT_EQ(ShownPages(seven), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_FALSE(seven.tip1 || seven.tip2);
    EXPECT_TRUE(seven.previousEnabled);
    EXPECT_FALSE(seven.nextEnabled);
    EXPECT_EQ(seven.width, 9 * kItem);
}

TEST(PageLabelLayoutTest, TwentyPagesAtStartMiddleAndEnd)
{
    const int total = 20 * kPerPage;
    auto start = ComputePageLabelLayout(1, total, kPerPage, kItem);
    EXPECT_EQ(ShownPages(start), (std::vector<int>{1, 2, 3, 4, 5, 6, 20}));
    EXPECT_FALSE(start.tip1);
    EXPECT_TRUE(start.tip2);
    EXPECT_FALSE(start.previousEnabled);
    EXPECT_TRUE(start.nextEnabled);
    EXPECT_EQ(start.width, 360);

    auto middle = ComputePageLabelLayout(10, total, kPerPage, kItem);
    EXPECT_EQ(ShownPages(middle), (std::vector<int>{1, 8, 9, 10, 11, 12, 20}));
    EXPECT_TRUE(middle.tip1 && middle.tip2);
    EXPECT_EQ(middle.width, 396);
    EXPECT_EQ(SelectedPage(middle), 10);
    EXPECT_TRUE(middle.previousEnabled && middle.nextEnabled);

    auto nearEnd = ComputePageLabelLayout(18, total, kPerPage, kItem);
    EXPECT_EQ(ShownPages(nearEnd), (std::vector<int>{1, 15, 16, 17, 18, 19, 20}));
    EXPECT_TRUE(nearEnd.tip1);
    EXPECT_FALSE(nearEnd.tip2);
    EXPECT_EQ(nearEnd.width, 360);
    EXPECT_TRUE(nearEnd.nextEnabled);

    auto last = ComputePageLabelLayout(20, total, kPerPage, kItem);
    EXPECT_FALSE(last.nextEnabled);
    EXPECT_TRUE(last.previousEnabled);
    EXPECT_EQ(SelectedPage(last), 20);
}

TEST(PageLabelLayoutTest, BoundariesOfTheEllipses)
{
    // Eight pages: page 4 is still "near the start", page 5 already "near the end".
    auto four = ComputePageLabelLayout(4, 8 * kPerPage, kPerPage, kItem);
    EXPECT_EQ(ShownPages(four), (std::vector<int>{1, 2, 3, 4, 5, 6, 8}));
    auto five = ComputePageLabelLayout(5, 8 * kPerPage, kPerPage, kItem);
    EXPECT_EQ(ShownPages(five), (std::vector<int>{1, 3, 4, 5, 6, 7, 8}));
    // A page past the end selects nothing rather than a wrong option.
    auto beyond = ComputePageLabelLayout(30, 20 * kPerPage, kPerPage, kItem);
    EXPECT_EQ(beyond.selected, -1);
}
