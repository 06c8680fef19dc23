#pragma once

// CRenderEngine: the drawing primitives controls paint with. Every function takes the painting
// context handed to DoPaint; GetTextSize also works with a null context (outside painting).

#include <string_view>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CPaintManagerUI;
struct TImageInfo;

// A parsed image attribute: "file='x.png' dest='l,t,r,b' source='l,t,r,b' corner='l,t,r,b' fade='255'",
// or just a file name.
struct TDrawInfo {
    CDuiString sFile;
    RECT rcDest;   // relative to the control's rectangle; empty = the whole control
    RECT rcSource; // part of the image; empty = the whole image
    RECT rcCorner; // nine-patch borders kept unscaled
    int nFade = 255;
    bool bHasDest = false;
    bool bHasSource = false;
};

class CRenderEngine {
public:
    static bool ParseImageString(std::u16string_view image, TDrawInfo& info);

    static void DrawColor(HDC hDC, const RECT& rc, DWORD color);
    static void DrawGradient(HDC hDC, const RECT& rc, DWORD first, DWORD second, bool vertical);
    // A frame of `size` pixels inside the rectangle.
    static void DrawRect(HDC hDC, const RECT& rc, int size, DWORD color);
    static void DrawRoundRect(HDC hDC, const RECT& rc, int size, int width, int height, DWORD color);
    static void FillRoundRect(HDC hDC, const RECT& rc, int width, int height, DWORD color);
    static void DrawLine(HDC hDC, const RECT& rc, int size, DWORD color);
    // Draws text in the rectangle with DT_* flags (alignment, DT_SINGLELINE, DT_WORDBREAK,
    // DT_END_ELLIPSIS). With DT_CALCRECT it draws nothing and sets rc to the text's extent.
    static void DrawText(HDC hDC, CPaintManagerUI* manager, RECT& rc, std::u16string_view text, DWORD color,
                         int font, UINT style);
    // The extent of the text; with DT_WORDBREAK and maxWidth > 0 the text wraps at maxWidth.
    static SIZE GetTextSize(HDC hDC, CPaintManagerUI* manager, std::u16string_view text, int font, UINT style,
                            int maxWidth = 0);
    // The height of the text wrapped at maxWidth: GetTextSize's cy with DT_WORDBREAK, without
    // measuring the lines' widths.
    static int GetWrappedTextHeight(CPaintManagerUI* manager, std::u16string_view text, int font,
                                    int maxWidth);
    // Draws an image attribute string inside rcItem (clipped to rcPaint). False when the image
    // cannot be had (the control then simply draws without it).
    static bool DrawImageString(HDC hDC, CPaintManagerUI* manager, const RECT& rcItem, const RECT& rcPaint,
                                std::u16string_view image, std::u16string_view modify = {});
    static void DrawImage(HDC hDC, const TImageInfo* image, const RECT& dest, const RECT& source,
                          const RECT& corner, int fade);
};

} // namespace UiLib
