#include "ui/DuiString.h"

#include <QString>

namespace UiLib {

CDuiString::CDuiString(const char16_t* text, int length)
{
    if (text == nullptr)
        return;
    m_text = length < 0 ? std::u16string(text) : std::u16string(text, static_cast<size_t>(length));
}

CDuiString CDuiString::FromUtf8(std::string_view utf8)
{
    return CDuiString(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String());
}

CDuiString CDuiString::FromInt(long long value)
{
    std::string s = std::to_string(value);
    return CDuiString(std::u16string(s.begin(), s.end()));
}

std::string CDuiString::ToUtf8() const
{
    return QString::fromStdU16String(m_text).toStdString();
}

char16_t CDuiString::GetAt(int index) const
{
    if (index < 0 || index >= GetLength())
        return 0;
    return m_text[static_cast<size_t>(index)];
}

CDuiString& CDuiString::operator=(const char16_t* text)
{
    m_text = text ? text : u"";
    return *this;
}

CDuiString& CDuiString::operator+=(std::u16string_view text)
{
    m_text.append(text);
    return *this;
}

CDuiString& CDuiString::operator+=(char16_t ch)
{
    m_text.push_back(ch);
    return *this;
}

CDuiString operator+(const CDuiString& a, std::u16string_view b)
{
    CDuiString r = a;
    r += b;
    return r;
}

int CDuiString::Compare(std::u16string_view other) const
{
    return std::u16string_view(m_text).compare(other);
}

int CDuiString::CompareNoCase(std::u16string_view other) const
{
    QString a = QString::fromStdU16String(m_text);
    QString b = QString::fromRawData(reinterpret_cast<const QChar*>(other.data()),
                                     static_cast<qsizetype>(other.size()));
    return a.compare(b, Qt::CaseInsensitive);
}

CDuiString CDuiString::Left(int length) const
{
    if (length <= 0)
        return {};
    return CDuiString(m_text.substr(0, static_cast<size_t>(length)));
}

CDuiString CDuiString::Mid(int start, int length) const
{
    if (start < 0)
        start = 0;
    if (start >= GetLength())
        return {};
    return CDuiString(
        m_text.substr(static_cast<size_t>(start), length < 0 ? std::u16string::npos : size_t(length)));
}

CDuiString CDuiString::Right(int length) const
{
    if (length <= 0)
        return {};
    if (length >= GetLength())
        return *this;
    return CDuiString(m_text.substr(m_text.size() - static_cast<size_t>(length)));
}

int CDuiString::Find(std::u16string_view what, int start) const
{
    if (start < 0 || start > GetLength())
        return -1;
    size_t pos = m_text.find(what, static_cast<size_t>(start));
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CDuiString::Find(char16_t ch, int start) const
{
    return Find(std::u16string_view(&ch, 1), start);
}

int CDuiString::ReverseFind(char16_t ch) const
{
    size_t pos = m_text.rfind(ch);
    return pos == std::u16string::npos ? -1 : static_cast<int>(pos);
}

int CDuiString::Replace(std::u16string_view from, std::u16string_view to)
{
    if (from.empty())
        return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = m_text.find(from, pos)) != std::u16string::npos) {
        m_text.replace(pos, from.size(), to);
        pos += to.size();
        ++count;
    }
    return count;
}

void CDuiString::MakeUpper()
{
    m_text = QString::fromStdU16String(m_text).toUpper().toStdU16String();
}

void CDuiString::MakeLower()
{
    m_text = QString::fromStdU16String(m_text).toLower().toStdU16String();
}

void CDuiString::TrimSpaces()
{
    m_text = QString::fromStdU16String(m_text).trimmed().toStdU16String();
}

long long ParseInt(std::u16string_view text, long long fallback)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9')
        return fallback;
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value > 100000000000000LL)
            break;
        value = value * 10 + (text[i] - u'0');
    }
    return negative ? -value : value;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace UiLib
