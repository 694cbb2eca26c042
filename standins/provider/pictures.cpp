#include "pictures.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

const char *const Pictures::kDefaultAvatar = "images/touxiang.png";
const char *const Pictures::kDevicePicture = "images/client_bg.png";

namespace {

// Simple line-art symbols; drawn in white on coloured tiles and banners.
enum class Symbol
{
    Monitor,
    Database,
    Terminal,
    Globe,
    Gamepad,
    Plug,
    Gauge,
    Network,
    Shield,
    Padlock,
    Link,
    Lines,
};

QByteArray encode(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Draws a symbol into the box; line widths follow the box size.
void drawSymbol(QPainter &p, Symbol symbol, const QRectF &box, const QColor &color)
{
    const qreal s = qMin(box.width(), box.height());
    const QPointF o = box.center() - QPointF(s / 2, s / 2);
    auto at = [&](qreal x, qreal y) { return o + QPointF(x * s, y * s); };
    auto rect = [&](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(at(x, y), QSizeF(w * s, h * s));
    };
    QPen pen(color, qMax<qreal>(1.5, s * 0.07), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.save();
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (symbol) {
    case Symbol::Monitor:
        p.drawRoundedRect(rect(0.1, 0.15, 0.8, 0.52), s * 0.05, s * 0.05);
        p.drawLine(at(0.5, 0.67), at(0.5, 0.82));
        p.drawLine(at(0.32, 0.85), at(0.68, 0.85));
        break;
    case Symbol::Database:
        p.drawEllipse(rect(0.2, 0.1, 0.6, 0.2));
        p.drawLine(at(0.2, 0.2), at(0.2, 0.8));
        p.drawLine(at(0.8, 0.2), at(0.8, 0.8));
        p.drawArc(rect(0.2, 0.4, 0.6, 0.2), 180 * 16, 180 * 16);
        p.drawArc(rect(0.2, 0.7, 0.6, 0.2), 180 * 16, 180 * 16);
        break;
    case Symbol::Terminal:
        p.drawRoundedRect(rect(0.1, 0.15, 0.8, 0.7), s * 0.06, s * 0.06);
        p.drawPolyline(QPolygonF({at(0.25, 0.35), at(0.4, 0.5), at(0.25, 0.65)}));
        p.drawLine(at(0.48, 0.66), at(0.72, 0.66));
        break;
    case Symbol::Globe:
        p.drawEllipse(rect(0.12, 0.12, 0.76, 0.76));
        p.drawEllipse(rect(0.33, 0.12, 0.34, 0.76));
        p.drawLine(at(0.12, 0.5), at(0.88, 0.5));
        p.drawLine(at(0.5, 0.12), at(0.5, 0.88));
        break;
    case Symbol::Gamepad: {
        QPainterPath body;
        body.addRoundedRect(rect(0.08, 0.28, 0.84, 0.46), s * 0.2, s * 0.2);
        p.drawPath(body);
        p.drawLine(at(0.22, 0.51), at(0.38, 0.51));
        p.drawLine(at(0.3, 0.43), at(0.3, 0.59));
        p.setBrush(color);
        p.drawEllipse(at(0.66, 0.45), s * 0.035, s * 0.035);
        p.drawEllipse(at(0.76, 0.56), s * 0.035, s * 0.035);
        break;
    }
    case Symbol::Plug:
        p.drawRoundedRect(rect(0.28, 0.3, 0.44, 0.3), s * 0.05, s * 0.05);
        p.drawLine(at(0.4, 0.12), at(0.4, 0.3));
        p.drawLine(at(0.6, 0.12), at(0.6, 0.3));
        p.drawPolyline(QPolygonF({at(0.5, 0.6), at(0.5, 0.75), at(0.35, 0.88)}));
        break;
    case Symbol::Gauge:
        p.drawArc(rect(0.1, 0.2, 0.8, 0.8), 0, 180 * 16);
        p.drawLine(at(0.1, 0.6), at(0.9, 0.6));
        p.drawLine(at(0.5, 0.6), at(0.72, 0.36));
        break;
    case Symbol::Network: {
        const QPointF centre = at(0.5, 0.5);
        const QPointF nodes[] = {at(0.2, 0.2), at(0.8, 0.2), at(0.2, 0.8), at(0.8, 0.8)};
        for (const QPointF &node : nodes) {
            p.drawLine(centre, node);
        }
        p.setBrush(color);
        p.drawEllipse(centre, s * 0.1, s * 0.1);
        for (const QPointF &node : nodes) {
            p.drawEllipse(node, s * 0.07, s * 0.07);
        }
        break;
    }
    case Symbol::Shield: {
        QPainterPath shield;
        shield.moveTo(at(0.5, 0.1));
        shield.lineTo(at(0.85, 0.22));
        shield.cubicTo(at(0.85, 0.6), at(0.7, 0.8), at(0.5, 0.9));
        shield.cubicTo(at(0.3, 0.8), at(0.15, 0.6), at(0.15, 0.22));
        shield.closeSubpath();
        p.drawPath(shield);
        p.drawPolyline(QPolygonF({at(0.33, 0.5), at(0.46, 0.63), at(0.68, 0.38)}));
        break;
    }
    case Symbol::Padlock:
        p.drawRoundedRect(rect(0.2, 0.45, 0.6, 0.42), s * 0.06, s * 0.06);
        p.drawArc(rect(0.32, 0.15, 0.36, 0.6), 0, 180 * 16);
        p.drawLine(at(0.32, 0.45), at(0.32, 0.44));
        p.drawLine(at(0.68, 0.45), at(0.68, 0.44));
        p.drawLine(at(0.5, 0.6), at(0.5, 0.72));
        break;
    case Symbol::Link:
        p.drawRoundedRect(rect(0.08, 0.3, 0.3, 0.4), s * 0.05, s * 0.05);
        p.drawRoundedRect(rect(0.62, 0.3, 0.3, 0.4), s * 0.05, s * 0.05);
        pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        p.drawLine(at(0.38, 0.5), at(0.62, 0.5));
        break;
    case Symbol::Lines: {
        for (int i = 0; i < 3; ++i) {
            QPainterPath line;
            const qreal y = 0.2 + 0.3 * i;
            line.moveTo(at(0.1, y));
            line.cubicTo(at(0.5, y), at(0.5, 0.5), at(0.9, 0.5));
            p.drawPath(line);
        }
        break;
    }
    }
    p.restore();
}

// A square icon: rounded tile in the given colour with a white symbol.
QImage icon(int size, const QColor &color, Symbol symbol)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, color.lighter(115));
    fill.setColorAt(1, color);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, size - 1, size - 1), size * 0.22, size * 0.22);
    const qreal margin = size * 0.18;
    drawSymbol(p, symbol, QRectF(margin, margin, size - 2 * margin, size - 2 * margin), Qt::white);
    return image;
}

// An advertisement banner: gradient, soft circles, a large symbol and bars
// standing in for a slogan.
QImage banner(const QColor &color, Symbol symbol)
{
    const int width = 200;
    const int height = 140;
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, width, height);
    fill.setColorAt(0, color.lighter(130));
    fill.setColorAt(1, color.darker(120));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0, 0, width, height), 8, 8);
    p.setBrush(QColor(255, 255, 255, 28));
    p.drawEllipse(QPointF(170, 20), 60, 60);
    p.drawEllipse(QPointF(30, 130), 45, 45);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRoundedRect(QRectF(16, 30, 90, 12), 6, 6);
    p.setBrush(QColor(255, 255, 255, 130));
    p.drawRoundedRect(QRectF(16, 52, 70, 8), 4, 4);
    p.drawRoundedRect(QRectF(16, 66, 80, 8), 4, 4);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRoundedRect(QRectF(16, 96, 56, 20), 10, 10);
    drawSymbol(p, symbol, QRectF(112, 34, 72, 72), Qt::white);
    return image;
}

QImage avatar()
{
    const int size = 96;
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient fill(size * 0.35, size * 0.3, size);
    fill.setColorAt(0, QColor(120, 180, 240));
    fill.setColorAt(1, QColor(40, 110, 190));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(QRectF(0, 0, size, size));
    p.setClipRegion(QRegion(0, 0, size, size, QRegion::Ellipse));
    p.setBrush(QColor(245, 248, 252));
    p.drawEllipse(QPointF(size / 2.0, size * 0.4), size * 0.18, size * 0.18);
    p.drawEllipse(QPointF(size / 2.0, size * 0.98), size * 0.34, size * 0.3);
    return image;
}

// The smart-device page: a router on a soft background, linked to a computer,
// a phone and the cloud.
QImage devicePicture()
{
    const int width = 620;
    const int height = 515;
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(236, 244, 252));
    sky.setColorAt(1, QColor(250, 252, 255));
    p.fillRect(image.rect(), sky);

    const QColor accent(40, 110, 190);
    const QColor line(150, 180, 215);
    const QPointF router(310, 300);

    // Links first, so the devices sit on top of them.
    QPen dashed(line, 3, Qt::DashLine, Qt::RoundCap);
    p.setPen(dashed);
    p.drawLine(router, QPointF(120, 400));
    p.drawLine(router, QPointF(500, 400));
    p.drawLine(router + QPointF(0, -80), QPointF(310, 120));

    // Cloud.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawEllipse(QPointF(280, 110), 50, 38);
    p.drawEllipse(QPointF(335, 95), 55, 48);
    p.drawEllipse(QPointF(385, 118), 40, 30);
    p.drawRoundedRect(QRectF(235, 110, 190, 40), 20, 20);
    drawSymbol(p, Symbol::Globe, QRectF(300, 75, 50, 50), accent);

    // Router body with antennas and status lights.
    p.setPen(QPen(accent.darker(130), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(250, 270), QPointF(230, 190));
    p.drawLine(QPointF(370, 270), QPointF(390, 190));
    p.setPen(Qt::NoPen);
    QLinearGradient body(0, 260, 0, 340);
    body.setColorAt(0, accent.lighter(130));
    body.setColorAt(1, accent);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(200, 262, 220, 76), 16, 16);
    const QColor lights[] = {QColor(90, 220, 120), QColor(90, 220, 120), QColor(255, 200, 60),
                             QColor(90, 220, 120)};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(lights[i]);
        p.drawEllipse(QPointF(240 + i * 28, 312), 6, 6);
    }
    p.setPen(QPen(QColor(255, 255, 255, 160), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal r = 18.0 * i;
        p.drawArc(QRectF(QPointF(310 - r, 250 - r), QSizeF(2 * r, 2 * r)), 50 * 16, 80 * 16);
    }

    // Computer and phone on their pads.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(60, 360, 120, 100), 14, 14);
    p.drawRoundedRect(QRectF(440, 360, 120, 100), 14, 14);
    drawSymbol(p, Symbol::Monitor, QRectF(80, 370, 80, 80), accent);
    QPen phone(accent, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(phone);
    p.drawRoundedRect(QRectF(480, 372, 40, 76), 8, 8);
    p.drawLine(QPointF(494, 438), QPointF(506, 438));
    return image;
}

} // namespace

Pictures::Pictures()
{
    m_files.insert(QString::fromLatin1(kDefaultAvatar), encode(avatar()));
    m_files.insert(QString::fromLatin1(kDevicePicture), encode(devicePicture()));

    struct Entry
    {
        const char *name;
        QColor color;
        Symbol symbol;
    };
    // The scene rows show their icon unscaled in a 35 pixel box.
    const Entry scenes[] = {
        {"rdp", QColor(45, 125, 210), Symbol::Monitor},
        {"mysql", QColor(0, 117, 143), Symbol::Database},
        {"ssh", QColor(60, 60, 70), Symbol::Terminal},
        {"web", QColor(230, 120, 30), Symbol::Globe},
        {"game", QColor(120, 80, 200), Symbol::Gamepad},
    };
    for (const Entry &entry : scenes) {
        m_files.insert(QStringLiteral("images/scene/%1.png").arg(QLatin1String(entry.name)),
                       encode(icon(35, entry.color, entry.symbol)));
    }
    // Value-added rows use a 42 pixel box; the detail panel a 200 x 140 banner.
    const Entry addons[] = {
        {"domain", QColor(30, 150, 200), Symbol::Globe},
        {"port", QColor(80, 160, 90), Symbol::Plug},
        {"bandwidth", QColor(230, 120, 30), Symbol::Gauge},
        {"connections", QColor(200, 80, 120), Symbol::Network},
        {"whitelist", QColor(40, 160, 120), Symbol::Shield},
        {"certificate", QColor(90, 100, 200), Symbol::Padlock},
        {"nexl", QColor(20, 90, 170), Symbol::Link},
        {"multiline", QColor(170, 70, 60), Symbol::Lines},
    };
    for (const Entry &entry : addons) {
        const QString name = QLatin1String(entry.name);
        m_files.insert(QStringLiteral("images/addon/%1.png").arg(name),
                       encode(icon(42, entry.color, entry.symbol)));
        m_files.insert(QStringLiteral("images/ad/%1.png").arg(name),
                       encode(banner(entry.color, entry.symbol)));
    }
}
