// Draws the program's skin images (skin/ui/*.png) with Qt's painter. Run it with the skin/ui
// folder as its argument after changing a drawing; the PNGs it writes are committed beside it.
//
//   QT_QPA_PLATFORM=offscreen quokka-drawskin skin/ui/

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kAccent(0x24, 0x79, 0xe4);
const QColor kText(0x33, 0x3b, 0x48);
const QColor kMuted(0x8a, 0x94, 0xa3);
QString g_folder;

struct Platform {
    int id;
    const char* badge; // badge file name without ".png"
    const char* label; // text on the badge
    const char* local; // local image name without ".png"
    QColor color;
};

const Platform kPlatforms[] = {
    {119, "PS", "PS", "local_ps", QColor(0x3d, 0x5a, 0xc8)},
    {120, "GBA", "GBA", "local_gba", QColor(0x6a, 0x4c, 0xd6)},
    {121, "SFC", "SFC", "local_sfc", QColor(0x9b, 0x59, 0xb6)},
    {122, "MD", "MD", "local_md", QColor(0x2c, 0x3e, 0x50)},
    {123, "MAME", "MAME", "local_mame", QColor(0xe6, 0x7e, 0x22)},
    {124, "GBC", "GBC", "local_gbc", QColor(0x27, 0xae, 0x60)},
    {125, "FC", "FC", "local_fc", QColor(0xd6, 0x45, 0x41)},
    {126, "FBA", "ARCADE", "local_fba", QColor(0xf3, 0x9c, 0x12)},
    {127, "NDS", "NDS", "local_nds", QColor(0x7f, 0x8c, 0x8d)},
    {129, "PSP", "PSP", "local_psp", QColor(0x1f, 0x2d, 0x3d)},
    {130, "N64", "N64", "local_n64", QColor(0x16, 0xa0, 0x85)},
    {131, "WSC", "WSC", "local_wsc", QColor(0x8e, 0x44, 0xad)},
    {133, "DC", "DC", "local_dc", QColor(0xe0, 0x6c, 0x2b)},
    {138, "PC", "PC", "local_pc", QColor(0x24, 0x79, 0xe4)},
    {140, "WII", "WII", "local_wii", QColor(0x34, 0x98, 0xdb)},
    {142, "PS2", "PS2", "local_ps2", QColor(0x2b, 0x4c, 0x9c)},
    {146, "MAMEPLUS", "MAME+", "local_mameplus", QColor(0xd3, 0x54, 0x00)},
    {148, "PCE", "PCE", "local_pce", QColor(0xc0, 0x39, 0x2b)},
};

QImage Canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void Save(const QImage& image, const char* name)
{
    QString path = g_folder + QString::fromUtf8(name);
    if (!image.save(path, "PNG"))
        std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
}

QFont Font(int pixels, bool bold)
{
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// The corner badge of a tile: a square whose top-right corner follows the tile's rounded corner
// and whose bottom-left corner is cut round, with the platform's short name.
void DrawBadge(const Platform& platform)
{
    QImage image = Canvas(36, 36);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(30, 0);
    path.quadTo(36, 0, 36, 6);
    path.lineTo(36, 36);
    path.lineTo(14, 36);
    path.quadTo(0, 36, 0, 22);
    path.closeSubpath();
    p.fillPath(path, platform.color);
    QString label = QString::fromUtf8(platform.label);
    p.setFont(Font(label.size() > 3 ? 8 : 11, true));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 36, 34), Qt::AlignCenter, label);
    p.end();
    Save(image, (std::string(platform.badge) + ".png").c_str());
}

// A game controller glyph centred at (cx, cy) with the given width.
void DrawPad(QPainter& p, double cx, double cy, double w, const QColor& color, const QColor& holes)
{
    double h = w * 0.6;
    QPainterPath body;
    body.addRoundedRect(QRectF(cx - w / 2, cy - h / 2, w, h), h * 0.45, h * 0.45);
    p.fillPath(body, color);
    double s = w * 0.07;
    double lx = cx - w * 0.24;
    p.fillRect(QRectF(lx - s * 2.2, cy - s / 2, s * 4.4, s), holes);
    p.fillRect(QRectF(lx - s / 2, cy - s * 2.2, s, s * 4.4), holes);
    p.setPen(Qt::NoPen);
    p.setBrush(holes);
    p.drawEllipse(QPointF(cx + w * 0.2, cy - s * 1.1), s * 0.9, s * 0.9);
    p.drawEllipse(QPointF(cx + w * 0.31, cy + s * 0.6), s * 0.9, s * 0.9);
}

void DrawDefaultIcon()
{
    QImage image = Canvas(96, 96);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 96, 96);
    g.setColorAt(0, QColor(0xe8, 0xf0, 0xfc));
    g.setColorAt(1, QColor(0xcf, 0xdf, 0xf7));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, 96, 96), 18, 18);
    DrawPad(p, 48, 50, 58, QColor(0x9d, 0xb8, 0xe6), QColor(0xe8, 0xf0, 0xfc));
    p.end();
    Save(image, "DefaultGameIcon.png");
}

void DrawLocalImage(const Platform& platform)
{
    QImage image = Canvas(96, 96);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 96, 96);
    g.setColorAt(0, platform.color.lighter(125));
    g.setColorAt(1, platform.color);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, 96, 96), 18, 18);
    DrawPad(p, 48, 38, 46, QColor(255, 255, 255, 220), platform.color);
    QString label = QString::fromUtf8(platform.label);
    p.setFont(Font(label.size() > 3 ? 15 : 18, true));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 58, 96, 30), Qt::AlignCenter, label);
    p.end();
    Save(image, (std::string(platform.local) + ".png").c_str());
}

// The program's mark: a rounded blue square with a pad and a white "Q" ring.
void DrawLogo(int size, const char* name)
{
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, size, size);
    g.setColorAt(0, QColor(0x4a, 0x96, 0xf5));
    g.setColorAt(1, kAccent.darker(110));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.24, size * 0.24);
    double c = size / 2.0;
    p.setPen(QPen(Qt::white, size * 0.1, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(c, c - size * 0.02), size * 0.26, size * 0.26);
    p.drawLine(QPointF(c + size * 0.12, c + size * 0.14), QPointF(c + size * 0.3, c + size * 0.32));
    p.end();
    Save(image, name);
}

// Title bar glyphs, drawn white on the blue band (hot: a translucent white plate behind).
enum class Glyph { Close, Min, Settings, Feedback, Download, GamePad, Search };

void DrawGlyph(QPainter& p, Glyph glyph, QRectF box, const QColor& color)
{
    QPointF c = box.center();
    double r = box.width() * 0.28;
    QPen pen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case Glyph::Close:
        p.drawLine(c + QPointF(-r * 0.8, -r * 0.8), c + QPointF(r * 0.8, r * 0.8));
        p.drawLine(c + QPointF(r * 0.8, -r * 0.8), c + QPointF(-r * 0.8, r * 0.8));
        break;
    case Glyph::Min:
        p.drawLine(c + QPointF(-r * 0.9, 0), c + QPointF(r * 0.9, 0));
        break;
    case Glyph::Settings: {
        p.drawEllipse(c, r * 0.42, r * 0.42);
        for (int i = 0; i < 8; ++i) {
            double a = i * M_PI / 4;
            p.drawLine(c + QPointF(std::cos(a) * r * 0.72, std::sin(a) * r * 0.72),
                       c + QPointF(std::cos(a) * r * 1.02, std::sin(a) * r * 1.02));
        }
        p.drawEllipse(c, r * 0.74, r * 0.74);
        break;
    }
    case Glyph::Feedback: {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(c.x() - r, c.y() - r * 0.8, r * 2, r * 1.45), 3, 3);
        p.drawPath(bubble);
        p.drawLine(c + QPointF(-r * 0.4, r * 0.65), c + QPointF(-r * 0.6, r * 1.05));
        p.drawLine(c + QPointF(-r * 0.5, -r * 0.2), c + QPointF(r * 0.5, -r * 0.2));
        p.drawLine(c + QPointF(-r * 0.5, r * 0.2), c + QPointF(r * 0.2, r * 0.2));
        break;
    }
    case Glyph::Download:
        p.drawLine(c + QPointF(0, -r), c + QPointF(0, r * 0.45));
        p.drawLine(c + QPointF(-r * 0.5, 0), c + QPointF(0, r * 0.5));
        p.drawLine(c + QPointF(r * 0.5, 0), c + QPointF(0, r * 0.5));
        p.drawLine(c + QPointF(-r, r * 1.0), c + QPointF(r, r * 1.0));
        break;
    case Glyph::GamePad: {
        QPainterPath body;
        body.addRoundedRect(QRectF(c.x() - r * 1.1, c.y() - r * 0.6, r * 2.2, r * 1.3), r * 0.55, r * 0.55);
        p.drawPath(body);
        p.drawLine(c + QPointF(-r * 0.65, 0), c + QPointF(-r * 0.25, 0));
        p.drawLine(c + QPointF(-r * 0.45, -r * 0.2), c + QPointF(-r * 0.45, r * 0.2));
        p.drawPoint(c + QPointF(r * 0.45, 0));
        break;
    }
    case Glyph::Search:
        p.drawEllipse(c + QPointF(-r * 0.15, -r * 0.15), r * 0.62, r * 0.62);
        p.drawLine(c + QPointF(r * 0.32, r * 0.32), c + QPointF(r * 0.85, r * 0.85));
        break;
    }
}

void DrawTitleButton(Glyph glyph, const char* name, bool hot, const QColor& plate, const QColor& color)
{
    const int size = 32;
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (hot) {
        p.setPen(Qt::NoPen);
        p.setBrush(plate);
        p.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), 8, 8);
    }
    DrawGlyph(p, glyph, QRectF(0, 0, size, size), color);
    p.end();
    Save(image, name);
}

void DrawTitleButtons()
{
    struct Entry {
        Glyph glyph;
        const char* normal;
        const char* hot;
    };
    const Entry entries[] = {
        {Glyph::Close, "btn_close.png", "btn_close_hot.png"},
        {Glyph::Min, "btn_min.png", "btn_min_hot.png"},
        {Glyph::Settings, "btn_set.png", "btn_set_hot.png"},
        {Glyph::Feedback, "btn_feedback.png", "btn_feedback_hot.png"},
        {Glyph::Download, "btn_download.png", "btn_download_hot.png"},
        {Glyph::GamePad, "btn_gamepad.png", "btn_gamepad_hot.png"},
    };
    for (const Entry& entry : entries) {
        DrawTitleButton(entry.glyph, entry.normal, false, Qt::transparent, Qt::white);
        QColor plate = entry.glyph == Glyph::Close ? QColor(0xe8, 0x4a, 0x4a) : QColor(255, 255, 255, 50);
        DrawTitleButton(entry.glyph, entry.hot, true, plate, Qt::white);
    }
    DrawTitleButton(Glyph::Search, "btn_search.png", false, Qt::transparent, kMuted);
    DrawTitleButton(Glyph::Search, "btn_search_hot.png", false, Qt::transparent, kAccent);
}

// The red number badge of the download and pad buttons.
void DrawNumberBadge()
{
    QImage image = Canvas(18, 18);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(QColor(0xf2, 0x4b, 0x4b));
    p.drawEllipse(QRectF(0.8, 0.8, 16.4, 16.4));
    p.end();
    Save(image, "num_badge.png");
}

// The underline of the selected main tab, drawn under the tab's text.
void DrawTabMarks()
{
    QImage image = Canvas(40, 4);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(0, 0, 40, 4), 2, 2);
    p.end();
    Save(image, "tab_mark.png");
}

void DrawSpinner(const char* name, int phase)
{
    const int size = 48;
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 8; ++i) {
        double a = (i + phase) * M_PI / 4;
        QColor dot = kAccent;
        dot.setAlpha(40 + i * 30);
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(QPointF(24 + std::cos(a) * 16, 24 + std::sin(a) * 16), 2.2 + i * 0.35, 2.2 + i * 0.35);
    }
    p.end();
    Save(image, name);
}

void DrawLoadFail()
{
    const int size = 64;
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath cloud;
    cloud.addEllipse(QPointF(24, 34), 13, 13);
    cloud.addEllipse(QPointF(38, 28), 15, 15);
    cloud.addRoundedRect(QRectF(10, 32, 46, 16), 8, 8);
    p.fillPath(cloud.simplified(), QColor(0xd5, 0xdc, 0xe6));
    p.setPen(QPen(QColor(0xf2, 0x4b, 0x4b), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(27, 32), QPointF(37, 42));
    p.drawLine(QPointF(37, 32), QPointF(27, 42));
    p.end();
    Save(image, "loading_fail.png");
}

void DrawEmptyShelf()
{
    QImage image = Canvas(120, 90);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe3, 0xea, 0xf4));
    p.drawRoundedRect(QRectF(10, 20, 100, 60), 10, 10);
    DrawPad(p, 60, 50, 50, QColor(0xc3, 0xd2, 0xe8), QColor(0xe3, 0xea, 0xf4));
    p.end();
    Save(image, "empty_shelf.png");
}

// The source buttons of the download source dialog: a light plate with the source's glyph at the
// left (share link: a cloud; own server: a server rack; no zip: an open box); the hot plate is
// tinted with the accent colour.
enum class SourceGlyph { Cloud, Server, Box };

void DrawSourceGlyph(QPainter& p, SourceGlyph glyph, QPointF c, const QColor& color)
{
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case SourceGlyph::Cloud: {
        QPainterPath cloud;
        cloud.moveTo(c + QPointF(-7, 4));
        cloud.arcTo(QRectF(c.x() - 10, c.y() - 3, 7, 7), 270, -180);
        cloud.arcTo(QRectF(c.x() - 6, c.y() - 7, 10, 10), 160, -150);
        cloud.arcTo(QRectF(c.x() + 1, c.y() - 3, 8, 7), 90, -180);
        cloud.closeSubpath();
        p.drawPath(cloud);
        break;
    }
    case SourceGlyph::Server:
        for (int row = 0; row < 2; ++row) {
            QRectF unit(c.x() - 8, c.y() - 7 + row * 8, 16, 6);
            p.drawRoundedRect(unit, 1.5, 1.5);
            p.drawPoint(QPointF(unit.right() - 3, unit.center().y()));
        }
        break;
    case SourceGlyph::Box:
        p.drawRect(QRectF(c.x() - 7, c.y() - 3, 14, 10));
        p.drawLine(c + QPointF(-7, -3), c + QPointF(-10, -7));
        p.drawLine(c + QPointF(7, -3), c + QPointF(10, -7));
        p.drawLine(c + QPointF(-3, 2), c + QPointF(3, 2));
        break;
    }
}

// A choice button of the dialogs (download source, control method, disc): a light plate, accented
// when hot, with its glyph drawn by `glyph` in the given colour.
constexpr int kPlateHeight = 33;

void DrawChoicePlate(const char* normal, const char* hot,
                     const std::function<void(QPainter&, const QColor&)>& glyph)
{
    const int w = 190, h = kPlateHeight;
    for (bool isHot : {false, true}) {
        QImage image = Canvas(w, h);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(isHot ? kAccent : QColor(0xd5, 0xdc, 0xe6), 1));
        p.setBrush(isHot ? QColor(0xe8, 0xf1, 0xfd) : QColor(0xf5, 0xf7, 0xfa));
        p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 5, 5);
        glyph(p, isHot ? kAccent : kMuted);
        p.end();
        Save(image, isHot ? hot : normal);
    }
}

void DrawSourceButtons()
{
    struct Entry {
        SourceGlyph glyph;
        const char* normal;
        const char* hot;
    };
    const Entry entries[] = {
        {SourceGlyph::Cloud, "dl_source_pan.png", "dl_source_pan_hot.png"},
        {SourceGlyph::Server, "dl_source_quokka.png", "dl_source_quokka_hot.png"},
        {SourceGlyph::Box, "dl_source_nozip.png", "dl_source_nozip_hot.png"},
    };
    for (const Entry& entry : entries)
        DrawChoicePlate(entry.normal, entry.hot, [&](QPainter& p, const QColor& color) {
            DrawSourceGlyph(p, entry.glyph, QPointF(22, kPlateHeight / 2.0), color);
        });
}

// The buttons of the launch dialogs: the control-method dialog's gamepad and keyboard plates and
// the disc dialog's disc plate, in the same light plate as the source buttons, with their glyph.
enum class LaunchGlyph { Pad, Keyboard, Disc };

void DrawLaunchGlyph(QPainter& p, LaunchGlyph glyph, QPointF c, const QColor& color)
{
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
    case LaunchGlyph::Pad: {
        QPainterPath body;
        body.addRoundedRect(QRectF(c.x() - 10, c.y() - 6, 20, 12), 5, 5);
        p.drawPath(body);
        p.drawLine(c + QPointF(-6, 0), c + QPointF(-2, 0));
        p.drawLine(c + QPointF(-4, -2), c + QPointF(-4, 2));
        p.drawPoint(c + QPointF(4, -1.5));
        p.drawPoint(c + QPointF(6.5, 1.5));
        break;
    }
    case LaunchGlyph::Keyboard:
        p.drawRoundedRect(QRectF(c.x() - 11, c.y() - 6, 22, 12), 2, 2);
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 4; ++col)
                p.drawPoint(QPointF(c.x() - 6 + col * 4, c.y() - 2.5 + row * 3));
        p.drawLine(c + QPointF(-4, 3.5), c + QPointF(4, 3.5));
        break;
    case LaunchGlyph::Disc:
        p.drawEllipse(c, 8, 8);
        p.drawEllipse(c, 2.2, 2.2);
        p.drawArc(QRectF(c.x() - 5.5, c.y() - 5.5, 11, 11), 100 * 16, 60 * 16);
        break;
    }
}

void DrawLaunchButtons()
{
    struct Entry {
        LaunchGlyph glyph;
        const char* normal;
        const char* hot;
    };
    const Entry entries[] = {
        {LaunchGlyph::Pad, "handle_gamepad.png", "handle_gamepad_hot.png"},
        {LaunchGlyph::Keyboard, "handle_keyboard.png", "handle_keyboard_hot.png"},
        {LaunchGlyph::Disc, "disc_button.png", "disc_button_hot.png"},
    };
    for (const Entry& entry : entries)
        DrawChoicePlate(entry.normal, entry.hot, [&](QPainter& p, const QColor& color) {
            DrawLaunchGlyph(p, entry.glyph, QPointF(24, kPlateHeight / 2.0), color);
        });
}

// The security code dialog's accept button: an accent plate, lighter when hot, deeper when pushed.
void DrawCodeOkButton()
{
    const int w = 92, h = 32;
    const std::pair<const char*, QColor> plates[] = {{"code_ok.png", kAccent},
                                                     {"code_ok_hot.png", QColor(0x3b, 0x8f, 0xf2)},
                                                     {"code_ok_pushed.png", QColor(0x1a, 0x5f, 0xb8)}};
    for (const auto& [name, color] : plates) {
        QImage image = Canvas(w, h);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(0, 0, w, h), 4, 4);
        p.end();
        Save(image, name);
    }
}

// The gamepad test's panel: a pad outline with wells where its buttons sit, and each button as
// a shape of its own, dim at rest and lit (its selected image) while pressed. Panel coordinates in
// skin/xmls/XinputGamePad.xml follow these sizes.
const QColor kPadRest(0xc5, 0xcf, 0xdd);
const QColor kPadLine(0xc9, 0xd3, 0xe1);

QColor Lit(const QColor& color, bool on)
{
    return on ? color : kPadRest;
}

void DrawPadBody()
{
    QImage image = Canvas(320, 200);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(14, 8, 292, 122), 56, 56);
    QPainterPath leftGrip;
    leftGrip.addEllipse(QRectF(10, 56, 96, 136));
    QPainterPath rightGrip;
    rightGrip.addEllipse(QRectF(214, 56, 96, 136));
    QPainterPath outline = body.united(leftGrip).united(rightGrip);
    QLinearGradient fill(0, 0, 0, 200);
    fill.setColorAt(0, QColor(0xff, 0xff, 0xff));
    fill.setColorAt(1, QColor(0xe6, 0xec, 0xf4));
    p.setPen(QPen(kPadLine, 1.5));
    p.setBrush(fill);
    p.drawPath(outline);
    // Wells: the sticks, the face buttons' ring, the two small buttons, the pad's cross.
    p.setPen(QPen(QColor(0xd8, 0xdf, 0xea), 1.2));
    p.setBrush(QColor(0xee, 0xf2, 0xf7));
    p.drawEllipse(QPointF(82, 58), 28, 28);
    p.drawEllipse(QPointF(198, 110), 28, 28);
    p.drawEllipse(QPointF(238, 58), 44, 44);
    p.drawRoundedRect(QRectF(117, 43, 30, 18), 9, 9);
    p.drawRoundedRect(QRectF(173, 43, 30, 18), 9, 9);
    p.drawRoundedRect(QRectF(90, 78, 64, 64), 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(kPadRest);
    p.drawRect(QRectF(112, 100, 20, 20));
    p.setFont(Font(9, false));
    p.setPen(kMuted);
    p.drawText(QRectF(110, 28, 44, 14), Qt::AlignCenter, QStringLiteral("BACK"));
    p.drawText(QRectF(166, 28, 44, 14), Qt::AlignCenter, QStringLiteral("START"));
    p.end();
    Save(image, "pad_body.png");
}

void DrawPadBumper(const char* label, bool right, bool on)
{
    QImage image = Canvas(80, 22);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(1, 1, 78, 20), 9, 9);
    p.setPen(Qt::NoPen);
    p.setBrush(Lit(kAccent, on));
    p.drawPath(path);
    p.setFont(Font(11, true));
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 80, 22), Qt::AlignCenter, QString::fromUtf8(label));
    p.end();
    std::string name = std::string("pad_bumper_") + (right ? "r" : "l") + (on ? "_on" : "") + ".png";
    Save(image, name.c_str());
}

void DrawPadStick(bool on)
{
    QImage image = Canvas(44, 44);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient cap(QPointF(19, 18), 24);
    cap.setColorAt(0, Lit(kAccent, on).lighter(125));
    cap.setColorAt(1, Lit(kAccent, on));
    p.setPen(Qt::NoPen);
    p.setBrush(cap);
    p.drawEllipse(QPointF(22, 22), 20, 20);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(22, 22), 12, 12);
    p.end();
    Save(image, on ? "pad_stick_on.png" : "pad_stick.png");
}

void DrawPadFace(const char* letter, const QColor& color, bool on)
{
    QImage image = Canvas(28, 28);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.6));
    p.setBrush(on ? color : QColor(0xff, 0xff, 0xff));
    p.drawEllipse(QPointF(14, 14), 12.5, 12.5);
    p.setFont(Font(13, true));
    p.setPen(on ? Qt::white : color);
    p.drawText(QRectF(0, 0, 28, 27), Qt::AlignCenter, QString::fromUtf8(letter));
    p.end();
    std::string name = std::string("pad_face_") + letter + (on ? "_on" : "") + ".png";
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Save(image, name.c_str());
}

// One arm of the pad's cross, its open end towards the centre, with an arrow.
void DrawPadArm(const char* direction, int quarterTurns, bool on)
{
    QImage image = Canvas(20, 20);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(10, 10);
    p.rotate(90.0 * quarterTurns);
    p.translate(-10, -10);
    // Drawn pointing up: rounded at the top, square at the bottom where it meets the centre.
    QPainterPath arm;
    arm.moveTo(0, 20);
    arm.lineTo(0, 4);
    arm.quadTo(0, 0, 4, 0);
    arm.lineTo(16, 0);
    arm.quadTo(20, 0, 20, 4);
    arm.lineTo(20, 20);
    arm.closeSubpath();
    p.fillPath(arm, Lit(kAccent, on));
    QPainterPath arrow;
    arrow.moveTo(10, 5);
    arrow.lineTo(15, 11);
    arrow.lineTo(5, 11);
    arrow.closeSubpath();
    p.fillPath(arrow, Qt::white);
    p.end();
    Save(image, (std::string("pad_dpad_") + direction + (on ? "_on" : "") + ".png").c_str());
}

void DrawPadPill(bool on)
{
    QImage image = Canvas(26, 14);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Lit(kAccent, on));
    p.drawRoundedRect(QRectF(0.5, 0.5, 25, 13), 6.5, 6.5);
    p.end();
    Save(image, on ? "pad_pill_on.png" : "pad_pill.png");
}

// The check box of the test switches.
void DrawCheckBox(bool on)
{
    QImage image = Canvas(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(on ? kAccent : QColor(0xb4, 0xbe, 0xcc), 1.2));
    p.setBrush(on ? kAccent : QColor(0xff, 0xff, 0xff));
    p.drawRoundedRect(QRectF(0.6, 0.6, 14.8, 14.8), 3, 3);
    if (on) {
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4, 8.2), QPointF(7, 11), QPointF(12, 5)}));
    }
    p.end();
    Save(image, on ? "check_on.png" : "check.png");
}

void DrawGamePadTest()
{
    DrawPadBody();
    for (bool on : {false, true}) {
        DrawPadBumper("LB", false, on);
        DrawPadBumper("RB", true, on);
        DrawPadStick(on);
        DrawPadFace("A", QColor(0x27, 0xae, 0x60), on);
        DrawPadFace("B", QColor(0xe7, 0x4c, 0x3c), on);
        DrawPadFace("X", kAccent, on);
        DrawPadFace("Y", QColor(0xf3, 0x9c, 0x12), on);
        DrawPadArm("up", 0, on);
        DrawPadArm("right", 1, on);
        DrawPadArm("down", 2, on);
        DrawPadArm("left", 3, on);
        DrawPadPill(on);
        DrawCheckBox(on);
    }
}

// The installer window: a download glyph for its caption band, the progress bar's track and fill,
// and its button plate (normal, hot, pushed). The bar and the plate are stretched with fixed
// corners, so they stay small.
void DrawInstallerWindow()
{
    {
        QImage image = Canvas(20, 20);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(1, 1, 18, 18));
        DrawGlyph(p, Glyph::Download, QRectF(2, 1, 16, 16), Qt::white);
        p.end();
        Save(image, "popdlg_icon.png");
    }
    const struct {
        const char* name;
        QColor from;
        QColor to;
    } bars[] = {
        {"popdlg_progress_bk.png", QColor(0xe6, 0xea, 0xf0), QColor(0xe6, 0xea, 0xf0)},
        {"popdlg_progress_fore.png", QColor(0x4a, 0x96, 0xf5), kAccent},
    };
    for (const auto& bar : bars) {
        QImage image = Canvas(40, 10);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 40, 0);
        g.setColorAt(0, bar.from);
        g.setColorAt(1, bar.to);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0, 0, 40, 10), 5, 5);
        p.end();
        Save(image, bar.name);
    }
    const struct {
        const char* name;
        QColor border;
        QColor fill;
    } plates[] = {
        {"popdlg_btn.png", QColor(0xd5, 0xdc, 0xe6), QColor(0xf5, 0xf7, 0xfa)},
        {"popdlg_btn_hot.png", kAccent, QColor(0xe8, 0xf1, 0xfd)},
        {"popdlg_btn_pushed.png", kAccent.darker(115), QColor(0xd6, 0xe6, 0xfb)},
    };
    for (const auto& plate : plates) {
        QImage image = Canvas(88, 30);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(plate.border, 1));
        p.setBrush(plate.fill);
        p.drawRoundedRect(QRectF(0.5, 0.5, 87, 29), 6, 6);
        p.end();
        Save(image, plate.name);
    }
}

// The detail window's rating bar: five stars on 109 x 18, one every 22 pixels from x = 0, grey in
// the background image and amber in the foreground image, which the window cuts to the rating's
// width. The two colours must stay plainly apart: the cut shows where one ends and the other begins.
void DrawStarBar(const char* name, const QColor& color)
{
    const int w = 109, h = 18;
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (int star = 0; star < 5; ++star) {
        const QPointF centre(star * 22 + 11.0, 9.5);
        QPolygonF outline;
        for (int corner = 0; corner < 10; ++corner) {
            const double radius = corner % 2 == 0 ? 9.5 : 4.2;
            const double angle = -M_PI / 2 + corner * M_PI / 5;
            outline << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
        }
        p.drawPolygon(outline);
    }
    p.end();
    Save(image, name);
}

// The detail window's action button: an accent plate with rounded corners, lighter when hot,
// deeper when pushed.
void DrawActionButton()
{
    const int w = 112, h = 36;
    const std::pair<const char*, QColor> plates[] = {{"btn_action.png", kAccent},
                                                     {"btn_action_hot.png", QColor(0x3b, 0x8f, 0xf2)},
                                                     {"btn_action_pushed.png", QColor(0x1a, 0x5f, 0xb8)}};
    for (const auto& [name, color] : plates) {
        QImage image = Canvas(w, h);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(0, 0, w, h), 18, 18);
        p.end();
        Save(image, name);
    }
}

// The download list's row buttons: a round plate (accent when hot) with a start triangle, pause
// bars or a delete cross; and the plate of a bulk button that cannot be pressed now.
enum class RowGlyph { Start, Pause, Delete };

void DrawRowButton(RowGlyph glyph, const char* name, bool hot)
{
    const int size = 28;
    QImage image = Canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor tone = glyph == RowGlyph::Delete ? QColor(0xd6, 0x45, 0x41) : kAccent;
    p.setPen(QPen(tone, 1.4));
    p.setBrush(hot ? tone : QColor(0xff, 0xff, 0xff));
    p.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
    const QColor ink = hot ? QColor(0xff, 0xff, 0xff) : tone;
    const QPointF c(size / 2.0, size / 2.0);
    switch (glyph) {
    case RowGlyph::Start:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPolygon(QPolygonF({c + QPointF(-3.5, -6), c + QPointF(6.5, 0), c + QPointF(-3.5, 6)}));
        break;
    case RowGlyph::Pause:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(c.x() - 5.5, c.y() - 6, 3.6, 12), 1.2, 1.2);
        p.drawRoundedRect(QRectF(c.x() + 1.9, c.y() - 6, 3.6, 12), 1.2, 1.2);
        break;
    case RowGlyph::Delete:
        p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + QPointF(-4.5, -4.5), c + QPointF(4.5, 4.5));
        p.drawLine(c + QPointF(4.5, -4.5), c + QPointF(-4.5, 4.5));
        break;
    }
    p.end();
    Save(image, name);
}

void DrawDownloadList()
{
    DrawRowButton(RowGlyph::Start, "dl_start.png", false);
    DrawRowButton(RowGlyph::Start, "dl_start_hot.png", true);
    DrawRowButton(RowGlyph::Pause, "dl_pause.png", false);
    DrawRowButton(RowGlyph::Pause, "dl_pause_hot.png", true);
    DrawRowButton(RowGlyph::Delete, "dl_delete.png", false);
    DrawRowButton(RowGlyph::Delete, "dl_delete_hot.png", true);

    const int w = 88, h = 30;
    QImage image = Canvas(w, h);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xe1, 0xe6, 0xed), 1));
    p.setBrush(QColor(0xf3, 0xf5, 0xf8));
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 6, 6);
    p.end();
    Save(image, "dl_btn_disabled.png");
}

// The settings window: radio marks of its option groups, the page marker of its side bar, the
// refresh glyph of the emulator page and the "more" button of an emulator item.
void DrawSettingsWindow()
{
    for (bool on : {false, true}) {
        QImage image = Canvas(16, 16);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(on ? kAccent : QColor(0xb4, 0xbe, 0xcc), 1.2));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(0.6, 0.6, 14.8, 14.8));
        if (on) {
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent);
            p.drawEllipse(QRectF(4, 4, 8, 8));
        }
        p.end();
        Save(image, on ? "radio_on.png" : "radio.png");
    }
    {
        QImage image = Canvas(150, 40);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe8, 0xf1, 0xfd));
        p.drawRect(QRectF(0, 0, 150, 40));
        p.setBrush(kAccent);
        p.drawRoundedRect(QRectF(0, 8, 4, 24), 2, 2);
        p.end();
        Save(image, "set_page.png");
    }
    for (bool hot : {false, true}) {
        const QColor color = hot ? kAccent : kMuted;
        QImage image = Canvas(24, 24);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 5, 14, 14), 60 * 16, 290 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(QPolygonF({QPointF(13.5, 2.5), QPointF(18.5, 6), QPointF(13, 9)}));
        p.end();
        Save(image, hot ? "set_refresh_hot.png" : "set_refresh.png");
    }
    for (bool hot : {false, true}) {
        QImage image = Canvas(28, 28);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(hot ? kAccent : QColor(0xd5, 0xdc, 0xe6), 1));
        p.setBrush(hot ? QColor(0xe8, 0xf1, 0xfd) : QColor(Qt::white));
        p.drawRoundedRect(QRectF(0.5, 0.5, 27, 27), 5, 5);
        p.setPen(Qt::NoPen);
        p.setBrush(hot ? kAccent : kText);
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(8 + i * 6, 14), 1.6, 1.6);
        p.end();
        Save(image, hot ? "emu_more_hot.png" : "emu_more.png");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <skin/ui folder>\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    g_folder = QString::fromLocal8Bit(argv[1]);
    if (!g_folder.endsWith('/'))
        g_folder += '/';
    QDir().mkpath(g_folder);

    for (const Platform& platform : kPlatforms) {
        DrawBadge(platform);
        DrawLocalImage(platform);
    }
    DrawDefaultIcon();
    DrawLogo(36, "logo.png");
    DrawLogo(64, "logo_big.png");
    DrawTitleButtons();
    DrawNumberBadge();
    DrawTabMarks();
    DrawSpinner("loading.png", 0);
    for (int phase = 0; phase < 8; ++phase)
        DrawSpinner(("loading_" + std::to_string(phase) + ".png").c_str(), phase);
    DrawLoadFail();
    DrawEmptyShelf();
    DrawInstallerWindow();
    DrawSourceButtons();
    DrawLaunchButtons();
    DrawCodeOkButton();
    DrawGamePadTest();
    DrawStarBar("level_bkimage.png", QColor(0xd5, 0xdc, 0xe6));
    DrawStarBar("level_foreimage.png", QColor(0xf5, 0xa6, 0x23));
    DrawActionButton();
    DrawDownloadList();
    DrawSettingsWindow();
    return 0;
}
