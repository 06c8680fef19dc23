#pragma once

#include <exception>
#include <string>
#include <string_view>

// Conversions between the program's text forms: narrow strings in the process code page ("ANSI";
// the OEM code page is the same one here), UTF-16 for the toolkit, UTF-8 for JSON, SQLite and
// file-system names. Each conversion takes a whole string and returns a new one.
//
// A failure throws std::runtime_error: "Invalid UTF-8 sequence." when the input is not valid in
// its source encoding (whatever that encoding is), "Error in conversion." when the conversion
// cannot be made at all (and for a lone surrogate handed to Utf16ToUtf8). Each conversion runs in
// one pass, so no measured length can disagree with a converted one. A character that the target
// code page cannot hold becomes '?', as the Windows code-page functions do.

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string AnsiToUtf16(std::string_view text);
std::string AnsiToUtf8(std::string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToOem(std::u16string_view text);
std::string Utf8ToOem(std::string_view text);

// The code page numbers that the converter objects accept: 0 (ANSI) and 3 (the thread's ANSI code
// page) both mean the process code page; 65001 is UTF-8 and 936 is GBK.
constexpr unsigned kCodePageAnsi = 0;
constexpr unsigned kCodePageThreadAnsi = 3;
constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageGbk = 936;

// Thrown by the wide-to-narrow converter object; it carries no text of its own.
class CConversionException : public std::exception {
public:
    const char* what() const noexcept override { return "conversion failed"; }
};

// Short-lived narrow-to-wide converter for one NUL-terminated text. Up to 128 characters live in an
// inline buffer; longer texts are allocated. A null input gives a null output. Invalid input throws
// std::runtime_error with the conversions' messages.
class CNarrowToWide {
public:
    explicit CNarrowToWide(const char* text, unsigned codePage = kCodePageAnsi);
    CNarrowToWide(const CNarrowToWide&) = delete;
    CNarrowToWide& operator=(const CNarrowToWide&) = delete;

    const char16_t* c_str() const { return m_text; }
    operator const char16_t*() const { return m_text; }

private:
    static constexpr size_t kInline = 128;
    char16_t m_inline[kInline + 1];
    std::u16string m_heap;
    const char16_t* m_text = nullptr;
};

// Short-lived wide-to-narrow converter. A null input gives a null output; a text that cannot be
// converted throws CConversionException.
class CWideToNarrow {
public:
    explicit CWideToNarrow(const char16_t* text, unsigned codePage = kCodePageAnsi);
    CWideToNarrow(const CWideToNarrow&) = delete;
    CWideToNarrow& operator=(const CWideToNarrow&) = delete;

    const char* c_str() const { return m_text; }
    operator const char*() const { return m_text; }

private:
    static constexpr size_t kInline = 128;
    char m_inline[kInline + 1];
    std::string m_heap;
    const char* m_text = nullptr;
};
