#pragma once

// CDuiString: the toolkit's text, UTF-16 (std::u16string underneath). Program code converts its
// narrow strings at the toolkit's door; FromUtf8/ToUtf8 are here for layouts, paths and tests.

#include <string>
#include <string_view>

namespace UiLib {

class CDuiString {
public:
    CDuiString() = default;
    CDuiString(const char16_t* text) : m_text(text ? text : u"") {}
    CDuiString(std::u16string text) : m_text(std::move(text)) {}
    CDuiString(std::u16string_view text) : m_text(text) {}
    CDuiString(const char16_t* text, int length);

    static CDuiString FromUtf8(std::string_view utf8);
    static CDuiString FromInt(long long value);
    std::string ToUtf8() const;

    const char16_t* GetData() const { return m_text.c_str(); }
    operator const char16_t*() const { return m_text.c_str(); }
    operator std::u16string_view() const { return m_text; }
    const std::u16string& Str() const { return m_text; }
    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char16_t GetAt(int index) const;
    char16_t operator[](int index) const { return GetAt(index); }

    CDuiString& operator=(const char16_t* text);
    CDuiString& operator+=(std::u16string_view text);
    CDuiString& operator+=(char16_t ch);
    friend CDuiString operator+(const CDuiString& a, std::u16string_view b);
    friend CDuiString operator+(const CDuiString& a, const char16_t* b) { return a + std::u16string_view(b); }
    friend bool operator==(const CDuiString& a, const CDuiString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CDuiString& a, const char16_t* b) { return a.m_text == (b ? b : u""); }
    friend bool operator<(const CDuiString& a, const CDuiString& b) { return a.m_text < b.m_text; }

    // Ordinal comparison: <0, 0 or >0.
    int Compare(std::u16string_view other) const;
    // Comparison ignoring ASCII and Unicode letter case.
    int CompareNoCase(std::u16string_view other) const;

    CDuiString Left(int length) const;
    CDuiString Mid(int start, int length = -1) const;
    CDuiString Right(int length) const;
    // Index of the first occurrence from `start`, or -1.
    int Find(std::u16string_view what, int start = 0) const;
    int Find(char16_t ch, int start = 0) const;
    int ReverseFind(char16_t ch) const;
    // Replaces every occurrence; returns the number of replacements.
    int Replace(std::u16string_view from, std::u16string_view to);
    void MakeUpper();
    void MakeLower();
    void TrimSpaces();

private:
    std::u16string m_text;
};

// Parses a decimal integer (leading sign, trailing garbage ignored); `fallback` when there is none.
long long ParseInt(std::u16string_view text, long long fallback = 0);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

} // namespace UiLib
