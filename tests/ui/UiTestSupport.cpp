#include "UiTestSupport.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdlib>

#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"
#include "ui/WindowWnd.h"

namespace uitest {

namespace {

void SaveRounded(const QString& path, int w, int h, QColor fill, QColor border, double radius)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(border.alpha() > 0 ? QPen(border, 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);
    p.end();
    image.save(path);
}

void SaveCross(const QString& path, QColor bk, QColor pen)
{
    QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(bk);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(pen, 1.6));
    p.drawLine(QPointF(19, 19), QPointF(29, 29));
    p.drawLine(QPointF(29, 19), QPointF(19, 29));
    p.end();
    image.save(path);
}

void SaveCheck(const QString& path, bool on)
{
    QImage image(18, 18, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (on) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x24, 0x79, 0xe4));
        p.drawRoundedRect(QRectF(1, 1, 16, 16), 4, 4);
        p.setPen(QPen(Qt::white, 2));
        QPainterPath tick;
        tick.moveTo(5, 9.5);
        tick.lineTo(8, 12.5);
        tick.lineTo(13, 6);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else {
        p.setPen(QPen(QColor(0xb8, 0xc0, 0xcc), 1.2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 4, 4);
    }
    p.end();
    image.save(path);
}

void SaveIcon(const QString& path, QColor a, QColor b)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 64, 64);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, 64, 64), 14, 14);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(32, 32), 12, 12);
    p.end();
    image.save(path);
}

// Starts the toolkit on the offscreen platform and draws the test skin's images.
class UiEnvironment : public testsupport::OffscreenUiEnvironment {
public:
    void SetUp() override
    {
        OffscreenUiEnvironment::SetUp();
        m_dir = std::make_unique<testsupport::TempDir>();
        QString ui = QString::fromStdString(m_dir->Path()) + QStringLiteral("skin/ui/");
        QDir().mkpath(ui);
        QColor accent(0x24, 0x79, 0xe4);
        SaveRounded(ui + "btn_normal.png", 40, 32, accent, Qt::transparent, 5);
        SaveRounded(ui + "btn_hot.png", 40, 32, accent.lighter(115), Qt::transparent, 5);
        SaveRounded(ui + "btn_pushed.png", 40, 32, accent.darker(120), Qt::transparent, 5);
        SaveRounded(ui + "btn_disabled.png", 40, 32, QColor(0xe4, 0xe8, 0xee), Qt::transparent, 5);
        SaveRounded(ui + "btn_ghost.png", 40, 32, Qt::white, QColor(0xc9, 0xd1, 0xdc), 5);
        SaveCross(ui + "close.png", accent, Qt::white);
        SaveCross(ui + "close_hot.png", QColor(0xe8, 0x4a, 0x4a), Qt::white);
        SaveCheck(ui + "check_off.png", false);
        SaveCheck(ui + "check_on.png", true);
        SaveIcon(ui + "icon_a.png", QColor(0x5b, 0x9c, 0xf0), accent);
        SaveIcon(ui + "icon_b.png", QColor(0xff, 0xa9, 0x4d), QColor(0xf0, 0x6d, 0x2c));
        SaveIcon(ui + "icon_c.png", QColor(0x4c, 0xd1, 0x9a), QColor(0x1f, 0xa5, 0x6e));
        SaveIcon(ui + "icon_d.png", QColor(0xb2, 0x84, 0xf5), QColor(0x7b, 0x4d, 0xd8));
        s_folder = m_dir->Path();
        UiLib::CPaintManagerUI::SetResourcePath(UiLib::CDuiString::FromUtf8(s_folder));
    }
    void TearDown() override
    {
        OffscreenUiEnvironment::TearDown();
        m_dir.reset();
    }

    static std::string s_folder;

private:
    std::unique_ptr<testsupport::TempDir> m_dir;
};

std::string UiEnvironment::s_folder;

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new UiEnvironment); // gtest owns it

} // namespace

const std::string& ImageFolder()
{
    return UiEnvironment::s_folder;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8) {
        int x = static_cast<int>((a >> shift) & 0xFF);
        int y = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(x - y) > tolerance)
            return false;
    }
    return true;
}

} // namespace uitest
