#include "foundation/JsonObjectBase.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <json/json.h>

namespace {

struct Item : CJsonObjectBase {
    std::string name;
    int32_t count = -1;
    Item() { BindFields(); }
    void BindFields() override
    {
        Bind("name", name);
        Bind("count", count);
    }
};

struct Inner : CJsonObjectBase {
    std::string label = "unset";
    Inner() { BindFields(); }
    void BindFields() override { Bind("label", label); }
};

// One member of every kind the binding knows.
struct Model : CJsonObjectBase {
    bool flag = true;
    int32_t number = -1;
    uint32_t unsignedNumber = 1;
    std::string text = "initial";
    int64_t big = -1;
    uint64_t unsignedBig = 1;
    float ratio = 9.0f;
    Inner inner;
    std::vector<int32_t> numbers;
    std::vector<std::string> words;
    std::vector<int64_t> bigs;
    std::vector<JsonObjectPtr> items;
    std::vector<JsonObjectPtr> others;
    std::list<bool> flags;
    std::list<std::string> wordList;
    std::list<JsonObjectPtr> itemList;

    Model() { BindFields(); }
    void BindFields() override
    {
        Bind("flag", flag);
        Bind("number", number);
        Bind("unsigned", unsignedNumber);
        Bind("text", text);
        Bind("big", big);
        Bind("unsignedBig", unsignedBig);
        Bind("ratio", ratio);
        Bind("inner", inner);
        Bind("numbers", numbers);
        Bind("words", words);
        Bind("bigs", bigs);
        Bind("items", items);
        Bind("others", others);
        Bind("flags", flags);
        Bind("wordList", wordList);
        Bind("itemList", itemList);
    }
    JsonObjectPtr NewArrayElement(const std::string& key) override
    {
        if (key == "items" || key == "itemList")
            return std::make_unique<Item>();
        if (key == "others")
            return std::make_unique<Inner>();
        return nullptr;
    }
};

const char kFull[] = R"({
  "flag": true, "number": -42, "unsigned": 4000000000, "text": "hello", "big": -9000000000,
  "unsignedBig": 18000000000000000000, "ratio": 2.5, "inner": {"label": "in"},
  "numbers": [1, 2, 3], "words": ["a", "b"], "bigs": [9000000000],
  "items": [{"name": "x", "count": 1}, {"name": "y", "count": 2}],
  "others": [{"label": "o"}], "flags": [true, false], "wordList": ["w"],
  "itemList": [{"name": "z", "count": 3}]
})";

TEST(JsonObjectBaseTest, FillsEveryKindOfMember)
{
    Model model;
    ASSERT_TRUE(model.ParseText(kFull));
    EXPECT_TRUE(model.flag);
    EXPECT_EQ(model.number, -42);
    EXPECT_EQ(model.unsignedNumber, 4000000000u);
    EXPECT_EQ(model.text, "hello");
    EXPECT_EQ(model.big, -9000000000LL);
    EXPECT_EQ(model.unsignedBig, 18000000000000000000ULL);
    EXPECT_FLOAT_EQ(model.ratio, 2.5f);
    EXPECT_EQ(model.inner.label, "in");
    EXPECT_EQ(model.numbers, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(model.words, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(model.bigs, (std::vector<int64_t>{9000000000LL}));
    ASSERT_EQ(model.items.size(), 2u);
    EXPECT_EQ(JsonElementAs<Item>(model.items[1])->name, "y");
    EXPECT_EQ(JsonElementAs<Item>(model.items[1])->count, 2);
    ASSERT_EQ(model.others.size(), 1u);
    EXPECT_EQ(JsonElementAs<Inner>(model.others[0])->label, "o");
    EXPECT_EQ(model.flags, (std::list<bool>{true, false}));
    EXPECT_EQ(model.wordList, (std::list<std::string>{"w"}));
    ASSERT_EQ(model.itemList.size(), 1u);
    EXPECT_EQ(JsonElementAs<Item>(model.itemList.front())->count, 3);
}

TEST(JsonObjectBaseTest, MissingKeysGiveDefaultsAndLeaveObjectsAndArraysAlone)
{
    Model model;
    model.numbers = {7};
    ASSERT_TRUE(model.ParseText("{}"));
    EXPECT_FALSE(model.flag);
    EXPECT_EQ(model.number, 0);
    EXPECT_EQ(model.unsignedNumber, 0u);
    EXPECT_EQ(model.text, "");
    EXPECT_EQ(model.big, 0);
    EXPECT_EQ(model.unsignedBig, 0u);
    EXPECT_EQ(model.ratio, 0.0f);
    EXPECT_EQ(model.inner.label, "unset");
    EXPECT_EQ(model.numbers, std::vector<int32_t>{7});

    ASSERT_TRUE(model.ParseText(R"({"inner": null, "numbers": null})"));
    EXPECT_EQ(model.inner.label, "unset");
    EXPECT_EQ(model.numbers, std::vector<int32_t>{7});
}

TEST(JsonObjectBaseTest, ValuesOfTheWrongKindGiveDefaultsWithoutSpoilingTheRest)
{
    Model model;
    ASSERT_TRUE(model.ParseText(R"({"number": "twelve", "text": {"a": 1}, "unsigned": -5, "big": [1],
        "ratio": "x", "flag": "yes", "numbers": {"0": 1}, "words": [1, "two", {"x": 1}, "three"],
        "inner": 5, "items": [3, {"name": "ok"}], "unsignedBig": 1e300})"));
    EXPECT_EQ(model.number, 0);
    EXPECT_EQ(model.text, "");
    EXPECT_EQ(model.unsignedNumber, 0u);
    EXPECT_EQ(model.big, 0);
    EXPECT_EQ(model.ratio, 0.0f);
    EXPECT_FALSE(model.flag);
    EXPECT_EQ(model.unsignedBig, 0u);
    EXPECT_TRUE(model.numbers.empty()) << "an object where an array is bound adds nothing";
    // Elements that convert are kept, the rest skipped.
    EXPECT_EQ(model.words, (std::vector<std::string>{"1", "two", "three"}));
    EXPECT_EQ(model.inner.label, "") << "a non-object under an object key reads as an empty object";
    ASSERT_EQ(model.items.size(), 2u);
    EXPECT_EQ(JsonElementAs<Item>(model.items[1])->name, "ok");
}

TEST(JsonObjectBaseTest, FillingTwiceDoublesArraysAndReplacesScalars)
{
    Model model;
    ASSERT_TRUE(model.ParseText(kFull));
    ASSERT_TRUE(model.ParseText(R"({"numbers": [4], "items": [{"name": "q"}], "text": "second"})"));
    EXPECT_EQ(model.numbers, (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(model.items.size(), 3u);
    EXPECT_EQ(model.text, "second");
    EXPECT_EQ(model.number, 0);
}

TEST(JsonObjectBaseTest, InvalidOrHostileTextFailsAndChangesNothing)
{
    Model model;
    ASSERT_TRUE(model.ParseText(kFull));
    EXPECT_FALSE(model.ParseText(R"({"text": "changed", )"));
    EXPECT_FALSE(model.ParseText("not json"));
    EXPECT_FALSE(model.ParseText(static_cast<const char*>(nullptr)));
    std::string deep(100000, '[');
    deep += std::string(100000, ']');
    EXPECT_FALSE(model.ParseText(deep));
    std::string deepObjects;
    for (int i = 0; i < 100000; ++i)
        deepObjects += R"({"text":)";
    EXPECT_FALSE(model.ParseText(deepObjects));
    EXPECT_EQ(model.text, "hello");
    EXPECT_EQ(model.items.size(), 2u);
}

TEST(JsonObjectBaseTest, ARootThatIsNotAnObjectFillsDefaults)
{
    Model model;
    ASSERT_TRUE(model.ParseText("[1, 2]"));
    EXPECT_EQ(model.text, "");
    EXPECT_TRUE(model.numbers.empty());
}

TEST(JsonObjectBaseTest, ChineseScalarsFollowTheCodePageAndArrayStringsStayUtf8)
{
    const std::string utf8 = "\xE6\x98\x9F\xE6\xB2\xB3\xE6\x88\x98\xE8\xAE\xB0"; // 星河战记
    const std::string gbk = "\xD0\xC7\xBA\xD3\xD5\xBD\xBC\xC7";
    const std::string text = R"({"text": ")" + utf8 + R"(", "words": [")" + utf8 + R"("], "wordList": [")" +
                             utf8 + R"("], "items": [{"name": ")" + utf8 + R"("}]})";
    const std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    Model model;
    bool parsed = model.ParseText(text);
    platform::SetProcessCodePage(saved);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(model.text, gbk);
    EXPECT_EQ(model.words, std::vector<std::string>{utf8});
    EXPECT_EQ(model.wordList, std::list<std::string>{utf8});
    ASSERT_EQ(model.items.size(), 1u);
    EXPECT_EQ(JsonElementAs<Item>(model.items[0])->name, gbk) << "scalars of array elements are scalars";

    Model inUtf8;
    platform::SetProcessCodePage("UTF-8");
    ASSERT_TRUE(inUtf8.ParseText(text));
    platform::SetProcessCodePage(saved);
    EXPECT_EQ(inUtf8.text, utf8);
}

TEST(JsonObjectBaseTest, InvalidUtf8InAStringGivesTheEmptyString)
{
    Model model;
    ASSERT_TRUE(model.ParseText("{\"text\": \"\xC3\x28\", \"number\": 3}"));
    EXPECT_EQ(model.text, "");
    EXPECT_EQ(model.number, 3);
}

struct Unusual : CJsonObjectBase {
    int32_t skipped = 5;
    std::vector<int32_t> wrongElement{1};
    int32_t twice = 0;
    std::vector<JsonObjectPtr> noFactory;
    Unusual() { BindFields(); }
    void BindFields() override
    {
        CJsonObjectBase::Bind("skipped", static_cast<JsonFieldType>(8), &skipped);
        CJsonObjectBase::Bind("skipped", static_cast<JsonFieldType>(0), &skipped);
        CJsonObjectBase::Bind("wrong", asArray, &wrongElement, asFloat);
        Bind("twice", twice);
        Bind("twice", twice);
        Bind("noFactory", noFactory);
    }
};

TEST(JsonObjectBaseTest, UnknownCodesAndDisallowedElementTypesAreSkipped)
{
    Unusual model;
    ASSERT_TRUE(model.ParseText(R"({"skipped": 1, "wrong": [1.5], "twice": 4, "noFactory": [{}]})"));
    EXPECT_EQ(model.skipped, 5);
    EXPECT_EQ(model.wrongElement, std::vector<int32_t>{1});
    EXPECT_EQ(model.twice, 4);
    EXPECT_TRUE(model.noFactory.empty());
}

TEST(JsonObjectBaseTest, ACopyIsUnboundUntilItBindsAgainAndToJsonValueIsEmptyText)
{
    Inner original;
    ASSERT_TRUE(original.ParseText(R"({"label": "a"})"));
    Inner copy(original);
    EXPECT_EQ(copy.label, "a");
    ASSERT_TRUE(copy.ParseText(R"({"label": "b"})"));
    EXPECT_EQ(copy.label, "a") << "a copy must not fill the original through stale addresses";
    EXPECT_EQ(original.label, "a");
    copy.BindFields();
    ASSERT_TRUE(copy.ParseText(R"({"label": "b"})"));
    EXPECT_EQ(copy.label, "b");
    EXPECT_EQ(original.label, "a");

    Json::Value value = original.ToJsonValue();
    EXPECT_TRUE(value.isString());
    EXPECT_EQ(value.asString(), "");
}

} // namespace
