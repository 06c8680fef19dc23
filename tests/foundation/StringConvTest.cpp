#include "foundation/StringConv.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// Runs each case under a chosen process code page and restores the previous one.
class CodePageScope {
public:
    explicit CodePageScope(const char* name) : m_saved(platform::ProcessCodePage())
    {
        platform::SetProcessCodePage(name);
    }
    ~CodePageScope() { platform::SetProcessCodePage(m_saved); }

private:
    std::string m_saved;
};

const std::string kChineseUtf8 = "星河战记 中文版";
const std::string kChineseGbk = "\xD0\xC7\xBA\xD3\xD5\xBD\xBC\xC7 \xD6\xD0\xCE\xC4\xB0\xE6";

template <typename F>
std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST(StringConvTest, EmptyTextConvertsToEmptyInEveryDirection)
{
    for (const char* codePage : {"UTF-8", "GBK"}) {
        CodePageScope scope(codePage);
        EXPECT_EQ(Utf16ToUtf8(u""), "");
        EXPECT_EQ(AnsiToUtf16(""), u"");
        EXPECT_EQ(AnsiToUtf8(""), "");
        EXPECT_EQ(Utf8ToUtf16(""), u"");
        EXPECT_EQ(Utf16ToOem(u""), "");
        EXPECT_EQ(Utf8ToOem(""), "");
    }
}

TEST(StringConvTest, ChineseRoundTripsThroughGbk)
{
    CodePageScope scope("GBK");
    EXPECT_EQ(Utf8ToOem(kChineseUtf8), kChineseGbk);
    EXPECT_EQ(AnsiToUtf8(kChineseGbk), kChineseUtf8);
    EXPECT_EQ(Utf16ToOem(AnsiToUtf16(kChineseGbk)), kChineseGbk);
    EXPECT_EQ(Utf8ToUtf16(kChineseUtf8), u"星河战记 中文版");
    EXPECT_EQ(Utf16ToUtf8(u"星河战记 中文版"), kChineseUtf8);
}

TEST(StringConvTest, ChineseRoundTripsThroughUtf8CodePage)
{
    CodePageScope scope("UTF-8");
    EXPECT_EQ(Utf8ToOem(kChineseUtf8), kChineseUtf8);
    EXPECT_EQ(AnsiToUtf8(kChineseUtf8), kChineseUtf8);
    EXPECT_EQ(AnsiToUtf16(kChineseUtf8), u"星河战记 中文版");
    // Characters beyond the basic plane survive as surrogate pairs.
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xF0\x9F\x8E\xAE")), "\xF0\x9F\x8E\xAE");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x8E\xAE").size(), 2u);
}

TEST(StringConvTest, InvalidInputRaisesTheDocumentedMessages)
{
    {
        CodePageScope scope("UTF-8");
        EXPECT_EQ(MessageOf([] { Utf8ToUtf16("ab\xC3"); }), "Invalid UTF-8 sequence.");
        EXPECT_EQ(MessageOf([] { Utf8ToUtf16("\xC0\xAF"); }), "Invalid UTF-8 sequence."); // overlong '/'
        EXPECT_EQ(MessageOf([] { Utf8ToUtf16("\xED\xA0\x80"); }), "Invalid UTF-8 sequence."); // surrogate
        EXPECT_EQ(MessageOf([] { AnsiToUtf16("\xFF"); }), "Invalid UTF-8 sequence.");
        EXPECT_EQ(MessageOf([] { Utf8ToOem("\x80"); }), "Invalid UTF-8 sequence.");
        EXPECT_EQ(MessageOf([] { Utf16ToUtf8(std::u16string(1, char16_t(0xD800))); }), "Error in conversion.");
        EXPECT_EQ(MessageOf([] { Utf16ToOem(std::u16string(1, char16_t(0xDC00))); }), "Invalid UTF-8 sequence.");
    }
    {
        CodePageScope scope("GBK");
        EXPECT_EQ(MessageOf([] { AnsiToUtf16("\xD6"); }), "Invalid UTF-8 sequence."); // half a character
        EXPECT_EQ(MessageOf([] { AnsiToUtf8("ok\xFF\xFF"); }), "Invalid UTF-8 sequence.");
    }
    {
        CodePageScope scope("NO-SUCH-CODE-PAGE");
        EXPECT_EQ(MessageOf([] { AnsiToUtf16("x"); }), "Error in conversion.");
        EXPECT_EQ(MessageOf([] { Utf16ToOem(u"x"); }), "Error in conversion.");
    }
}

TEST(StringConvTest, CharacterMissingFromTheCodePageBecomesQuestionMark)
{
    CodePageScope scope("GBK");
    EXPECT_EQ(Utf8ToOem("Pixel \xF0\x9F\x8D\x84!"), "Pixel ?!");
}

TEST(StringConvTest, TextOf1113UnitsConvertsNormally)
{
    // 1113 is the error code of a failed conversion on the original platform; it must never be
    // mistaken for a length, nor a length for it.
    for (const char* codePage : {"UTF-8", "GBK"}) {
        CodePageScope scope(codePage);
        std::string ascii(1113, 'q');
        EXPECT_EQ(AnsiToUtf16(ascii).size(), 1113u);
        EXPECT_EQ(Utf16ToOem(std::u16string(1113, u'q')), ascii);
        std::string chinese;
        for (int i = 0; i < 1113; ++i)
            chinese += "游";
        EXPECT_EQ(Utf8ToUtf16(chinese).size(), 1113u);
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(chinese)), chinese);
        EXPECT_EQ(AnsiToUtf8(Utf8ToOem(chinese)), chinese);
    }
}

TEST(StringConvTest, ConverterObjectsHandleNullShortAndLongTexts)
{
    CodePageScope scope("GBK");
    EXPECT_EQ(CNarrowToWide(nullptr).c_str(), nullptr);
    EXPECT_EQ(CWideToNarrow(nullptr).c_str(), nullptr);

    EXPECT_EQ(std::u16string(CNarrowToWide(kChineseGbk.c_str())), u"星河战记 中文版");
    EXPECT_EQ(std::string(CWideToNarrow(u"星河战记 中文版")), kChineseGbk);
    EXPECT_EQ(std::u16string(CNarrowToWide(kChineseUtf8.c_str(), kCodePageUtf8)), u"星河战记 中文版");

    std::string longNarrow(300, 'x');
    std::u16string longWide(300, u'x');
    EXPECT_EQ(std::u16string(CNarrowToWide(longNarrow.c_str(), kCodePageThreadAnsi)), longWide);
    EXPECT_EQ(std::string(CWideToNarrow(longWide.c_str())), longNarrow);
    std::string exact(128, 'y');
    EXPECT_EQ(std::u16string(CNarrowToWide(exact.c_str())), std::u16string(128, u'y'));

    std::u16string lone(1, char16_t(0xD800));
    EXPECT_THROW(CWideToNarrow{lone.c_str()}, CConversionException);
    EXPECT_THROW(CNarrowToWide{"\xD6"}, std::runtime_error);
}
