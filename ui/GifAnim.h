#pragma once

#include <memory>

#include "ui/Control.h"

namespace UiLib {

// An animated image (GIF) from "bkimage" (a skin path), played while visible with each frame's
// own delay. Attributes: autoplay (default true).
class CGifAnimUI : public CControlUI {
public:
    CGifAnimUI();
    ~CGifAnimUI() override;
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    void PlayGif();
    void PauseGif();
    void StopGif();
    int GetFrameCount() const;
    int GetCurrentFrame() const;

    void DoInit() override;
    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void DoEvent(TEventUI& event) override;
    void PaintBkImage(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    bool Load();
    void ScheduleNext();

    static constexpr UINT kTimerId = 0x61F;
    struct Movie;
    std::unique_ptr<Movie> m_movie;
    bool m_bAutoPlay = true;
    bool m_bPlaying = false;
};

} // namespace UiLib
