// Draws every picture of the compiled-in image bundle with QPainter and writes
// the files into the folder given on the command line.
//
// The output is deterministic: no random numbers, no time stamps, fixed JPEG
// quality, and text is drawn with the DejaVu Sans Bold font file when it is
// installed, so repeated runs on the same system give identical files.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPointF>
#include <QPolygonF>
#include <QRadialGradient>
#include <QString>
#include <QTransform>

#include <cmath>
#include <cstdio>

namespace {

QString g_outDir;
QString g_fontFamily = QStringLiteral("DejaVu Sans");
bool g_failed = false;

const QColor kGreen(0x3c, 0xa5, 0x3c);
const QColor kDarkGreen(0x1b, 0x5e, 0x20);
const QColor kLightGreen(0x8b, 0xd8, 0x7a);

QImage transparentCanvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

void beginPainter(QPainter &p, QImage &img)
{
    p.begin(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
}

void writeImage(const QImage &img, const QString &fileName, const char *format, int quality = -1)
{
    const QString path = g_outDir + QLatin1Char('/') + fileName;
    QImage out = img;
    if (qstrcmp(format, "PNG") == 0 && out.format() != QImage::Format_ARGB32)
        out = out.convertToFormat(QImage::Format_ARGB32);
    if (!out.save(path, format, quality)) {
        std::fprintf(stderr, "drawicons: cannot write %s\n", qPrintable(path));
        g_failed = true;
    }
}

void writePng(const QImage &img, const QString &fileName)
{
    writeImage(img, fileName, "PNG");
}

void writeText(const QByteArray &data, const QString &fileName)
{
    const QString path = g_outDir + QLatin1Char('/') + fileName;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
        std::fprintf(stderr, "drawicons: cannot write %s\n", qPrintable(path));
        g_failed = true;
    }
}

QFont boldFont(qreal pixelSize)
{
    QFont f(g_fontFamily);
    f.setBold(true);
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// Largest bold font whose rendering of `text` fits in the given box.
QFont fittedFont(const QString &text, qreal maxW, qreal maxH)
{
    qreal size = maxH;
    while (size > 4) {
        const QFont f = boldFont(size);
        const QFontMetricsF fm(f);
        if (fm.horizontalAdvance(text) <= maxW && fm.capHeight() <= maxH * 0.75)
            return f;
        size -= 0.5;
    }
    return boldFont(4);
}

// ---------------------------------------------------------------------------
// Map of Ireland

// Coastline of the island, clockwise from Malin Head, as (latitude, longitude).
const double kIrelandCoast[][2] = {
    {55.38, -7.37}, {55.25, -7.05}, {55.20, -6.95}, {55.21, -6.65}, {55.24, -6.30},
    {55.22, -6.13}, {55.15, -6.03}, {55.02, -5.98}, {54.86, -5.80}, {54.78, -5.70},
    {54.70, -5.88}, {54.65, -5.68}, {54.66, -5.52}, {54.55, -5.45}, {54.40, -5.43},
    {54.33, -5.53}, {54.37, -5.64}, {54.25, -5.63}, {54.22, -5.85}, {54.10, -5.93},
    {54.03, -6.10}, {54.05, -6.27}, {53.98, -6.37}, {53.87, -6.24}, {53.72, -6.25},
    {53.60, -6.12}, {53.45, -6.12}, {53.39, -6.05}, {53.34, -6.22}, {53.27, -6.10},
    {53.10, -6.05}, {52.97, -5.99}, {52.80, -6.14}, {52.62, -6.20}, {52.45, -6.28},
    {52.34, -6.40}, {52.25, -6.33}, {52.17, -6.36}, {52.18, -6.60}, {52.13, -6.93},
    {52.25, -7.00}, {52.14, -7.10}, {52.10, -7.55}, {51.98, -7.70}, {51.94, -7.86},
    {51.85, -8.05}, {51.80, -8.27}, {51.70, -8.40}, {51.60, -8.53}, {51.60, -8.90},
    {51.53, -9.20}, {51.48, -9.45}, {51.45, -9.82}, {51.58, -9.70}, {51.60, -9.45},
    {51.66, -9.80}, {51.58, -10.15}, {51.72, -10.00}, {51.85, -9.65}, {51.80, -10.05},
    {51.78, -10.33}, {51.93, -10.38}, {52.02, -10.10}, {52.08, -9.85}, {52.10, -10.05},
    {52.10, -10.47}, {52.20, -10.45}, {52.27, -10.18}, {52.24, -9.90}, {52.33, -9.85},
    {52.42, -9.93}, {52.50, -9.68}, {52.60, -9.30}, {52.63, -9.05}, {52.66, -9.40},
    {52.58, -9.70}, {52.56, -9.93}, {52.68, -9.64}, {52.82, -9.48}, {52.95, -9.47},
    {53.10, -9.35}, {53.15, -9.26}, {53.20, -9.05}, {53.27, -8.98}, {53.25, -9.30},
    {53.25, -9.60}, {53.32, -9.90}, {53.40, -10.20}, {53.52, -10.10}, {53.58, -10.20},
    {53.62, -9.90}, {53.70, -9.85}, {53.78, -9.60}, {53.88, -9.70}, {53.92, -10.00},
    {53.97, -10.25}, {54.05, -10.05}, {54.10, -10.10}, {54.25, -10.10}, {54.30, -9.98},
    {54.33, -9.80}, {54.30, -9.55}, {54.32, -9.35}, {54.22, -9.20}, {54.18, -9.05},
    {54.28, -8.60}, {54.35, -8.65}, {54.47, -8.45}, {54.60, -8.25}, {54.65, -8.10},
    {54.62, -8.45}, {54.64, -8.78}, {54.72, -8.78}, {54.80, -8.55}, {54.88, -8.45},
    {54.97, -8.50}, {55.07, -8.35}, {55.15, -8.28}, {55.19, -8.10}, {55.22, -7.98},
    {55.15, -7.85}, {55.20, -7.75}, {55.28, -7.63}, {55.18, -7.55}, {55.05, -7.55},
    {55.18, -7.45}, {55.28, -7.50},
};

// Projects the coastline (equirectangular, longitude scaled by cos of the
// mid latitude so the island keeps its shape) and fits it into `box`.
QPolygonF irelandPolygon(const QRectF &box)
{
    const double kLonScale = std::cos(53.4 * M_PI / 180.0);
    QPolygonF poly;
    for (const auto &pt : kIrelandCoast)
        poly << QPointF(pt[1] * kLonScale, -pt[0]);
    const QRectF bounds = poly.boundingRect();
    const double s = qMin(box.width() / bounds.width(), box.height() / bounds.height());
    const QPointF offset(box.center().x() - bounds.center().x() * s,
                         box.center().y() - bounds.center().y() * s);
    QPolygonF out;
    for (const QPointF &p : poly)
        out << QPointF(p.x() * s, p.y() * s) + offset;
    return out;
}

QImage drawIreland(int w, int h)
{
    QImage img = transparentCanvas(w, h);
    QPainter p;
    beginPainter(p, img);
    const qreal pen = qMax(2.0, w / 80.0);
    const QPolygonF poly = irelandPolygon(QRectF(pen, pen, w - 2 * pen, h - 2 * pen));
    p.setPen(QPen(kDarkGreen, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kGreen);
    p.drawPolygon(poly);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Satellite

QImage drawSatellite()
{
    QImage img = transparentCanvas(300, 219);
    QPainter p;
    beginPainter(p, img);
    const QColor outline(0x30, 0x30, 0x38);
    const QPen thin(outline, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    // Struts between the body and the panels.
    p.setPen(QPen(QColor(0x70, 0x70, 0x78), 6));
    p.drawLine(QPointF(20, 135), QPointF(280, 135));

    // Solar panels, each a grid of cells.
    const QColor panelBlue(0x23, 0x4e, 0xa8);
    const QColor cellLine(0x9c, 0xc0, 0xf0);
    for (int side = 0; side < 2; ++side) {
        const QRectF panel = side == 0 ? QRectF(6, 100, 90, 70) : QRectF(204, 100, 90, 70);
        p.setPen(thin);
        p.setBrush(panelBlue);
        p.drawRect(panel);
        p.setPen(QPen(cellLine, 2));
        for (int i = 1; i < 4; ++i) {
            const qreal x = panel.left() + panel.width() * i / 4.0;
            p.drawLine(QPointF(x, panel.top() + 2), QPointF(x, panel.bottom() - 2));
        }
        for (int i = 1; i < 3; ++i) {
            const qreal y = panel.top() + panel.height() * i / 3.0;
            p.drawLine(QPointF(panel.left() + 2, y), QPointF(panel.right() - 2, y));
        }
    }

    // Body.
    QLinearGradient gold(110, 0, 190, 0);
    gold.setColorAt(0, QColor(0xe8, 0xb8, 0x30));
    gold.setColorAt(1, QColor(0xb8, 0x86, 0x10));
    p.setPen(thin);
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(110, 92, 80, 86), 6, 6);
    p.setPen(QPen(QColor(0x8a, 0x62, 0x08), 2));
    p.drawLine(QPointF(110, 120), QPointF(190, 120));
    p.drawLine(QPointF(110, 150), QPointF(190, 150));

    // Mast and dish on top of the body.
    p.setPen(QPen(outline, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(150, 92), QPointF(150, 66));
    QPainterPath dish;
    dish.moveTo(92, 26);
    dish.quadTo(150, 100, 208, 26);
    dish.closeSubpath();
    p.setPen(thin);
    p.setBrush(QColor(0xdc, 0xdc, 0xe2));
    p.drawPath(dish);
    // Feed arm and receiver in front of the dish.
    p.setPen(QPen(outline, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(150, 62), QPointF(150, 12));
    p.setBrush(QColor(0xd0, 0x30, 0x30));
    p.drawEllipse(QPointF(150, 12), 7, 7);

    // Antenna below.
    p.setPen(QPen(outline, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(150, 178), QPointF(150, 205));
    p.setBrush(outline);
    p.drawEllipse(QPointF(150, 208), 5, 5);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Star

QPolygonF starPolygon(QPointF centre, qreal outer, qreal inner)
{
    QPolygonF poly;
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? outer : inner;
        const qreal a = (-90.0 + 36.0 * i) * M_PI / 180.0;
        poly << QPointF(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
    }
    return poly;
}

QImage drawStar()
{
    QImage img = transparentCanvas(300, 286);
    QPainter p;
    beginPainter(p, img);
    const qreal pen = 10;
    // Height of a five-pointed star is R * (1 + cos 36deg); centre it vertically.
    const qreal outer = 140;
    const qreal height = outer * (1 + std::cos(36.0 * M_PI / 180.0));
    const qreal cy = (286 - height) / 2 + outer;
    p.setPen(QPen(QColor(0xf0, 0x80, 0x10), pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xff, 0xd8, 0x20));
    p.drawPolygon(starPolygon(QPointF(150, cy), outer, outer * 0.382));
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Screwdriver crossed with a spanner

// Open-ended spanner head: a disc with a slot opening away from the handle.
QPainterPath spannerHead(QPointF centre, qreal radius, qreal slot, bool opensRight)
{
    QPainterPath disc;
    disc.addEllipse(centre, radius, radius);
    QPainterPath cut;
    const qreal dir = opensRight ? 1 : -1;
    cut.addRect(QRectF(centre.x() - (opensRight ? 0 : radius * 1.2), centre.y() - slot / 2,
                       radius * 1.2, slot));
    QPainterPath notch;
    notch.addEllipse(QPointF(centre.x() + dir * radius * 0.05, centre.y()), slot / 2, slot / 2);
    return disc.subtracted(cut.united(notch));
}

QImage drawSettings()
{
    QImage img = transparentCanvas(300, 297);
    QPainter p;
    beginPainter(p, img);
    const QColor outline(0x2a, 0x2a, 0x30);
    const QPen pen(outline, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    // Spanner: drawn along the x axis, then turned to run top-right to bottom-left.
    {
        QPainterPath handle;
        handle.addRoundedRect(QRectF(-110, -17, 220, 34), 12, 12);
        QPainterPath shape = handle.united(spannerHead(QPointF(-118, 0), 42, 34, false))
                                 .united(spannerHead(QPointF(118, 0), 42, 34, true));
        QTransform t;
        t.translate(150, 148.5);
        t.rotate(-45);
        QLinearGradient steel(0, 0, 300, 297);
        steel.setColorAt(0, QColor(0xe4, 0xe6, 0xea));
        steel.setColorAt(1, QColor(0x9a, 0x9e, 0xa6));
        p.setPen(pen);
        p.setBrush(steel);
        p.drawPath(t.map(shape.simplified()));
    }

    // Screwdriver: handle at the bottom right, blade towards the top left.
    {
        QTransform t;
        t.translate(150, 148.5);
        t.rotate(45);
        p.setTransform(t);
        p.setPen(pen);
        // Blade with a flat tip.
        p.setBrush(QColor(0xc8, 0xcc, 0xd2));
        QPolygonF blade;
        blade << QPointF(-140, -6) << QPointF(-128, -11) << QPointF(20, -11)
              << QPointF(20, 11) << QPointF(-128, 11) << QPointF(-140, 6);
        p.drawPolygon(blade);
        // Ferrule.
        p.setBrush(QColor(0x80, 0x84, 0x8c));
        p.drawRect(QRectF(12, -18, 18, 36));
        // Handle with grip grooves.
        p.setBrush(QColor(0xd8, 0x2c, 0x2c));
        p.drawRoundedRect(QRectF(28, -28, 112, 56), 22, 22);
        p.setPen(QPen(QColor(0x90, 0x14, 0x14), 4, Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i) {
            const qreal y = -12 + 12 * i;
            p.drawLine(QPointF(50, y), QPointF(122, y));
        }
        p.resetTransform();
    }
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Back arrow: up on the left, round the top, and down on the right.

QImage drawBack()
{
    QImage img = transparentCanvas(237, 299);
    QPainter p;
    beginPainter(p, img);
    const qreal stroke = 40;
    const qreal leftX = 52, rightX = 168, topY = 110;
    const qreal radius = (rightX - leftX) / 2;
    QPainterPath track;
    track.moveTo(leftX, 290);
    track.lineTo(leftX, topY);
    track.arcTo(QRectF(leftX - 0, topY - radius, 2 * radius, 2 * radius), 180, -180);
    track.lineTo(rightX, 200);
    QPainterPathStroker stroker;
    stroker.setWidth(stroke);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    QPainterPath body = stroker.createStroke(track);

    QPainterPath head;
    head.moveTo(rightX - 62, 198);
    head.lineTo(rightX + 62, 198);
    head.lineTo(rightX, 294);
    head.closeSubpath();

    const QPainterPath arrow = body.united(head).simplified();
    QLinearGradient fill(0, 0, 237, 0);
    fill.setColorAt(0, kLightGreen);
    fill.setColorAt(1, kGreen);
    p.setPen(QPen(kDarkGreen, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(arrow);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Plus, bars and tick

void fillGreenShape(QPainter &p, const QPainterPath &shape, qreal outlineWidth)
{
    const QRectF r = shape.boundingRect();
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, kLightGreen);
    fill.setColorAt(1, kGreen);
    p.setPen(QPen(kDarkGreen, outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(shape);
}

QImage drawPlus()
{
    QImage img = transparentCanvas(800, 800);
    QPainter p;
    beginPainter(p, img);
    QPainterPath h, v;
    h.addRoundedRect(QRectF(80, 300, 640, 200), 40, 40);
    v.addRoundedRect(QRectF(300, 80, 200, 640), 40, 40);
    fillGreenShape(p, h.united(v).simplified(), 16);
    p.end();
    return img;
}

QImage drawBar(int w, int h, const QRectF &bar, qreal corner, qreal outlineWidth)
{
    QImage img = transparentCanvas(w, h);
    QPainter p;
    beginPainter(p, img);
    QPainterPath path;
    path.addRoundedRect(bar, corner, corner);
    fillGreenShape(p, path, outlineWidth);
    p.end();
    return img;
}

QImage drawGreenTick()
{
    QImage img = transparentCanvas(300, 300);
    QPainter p;
    beginPainter(p, img);
    QRadialGradient disc(QPointF(120, 110), 190);
    disc.setColorAt(0, QColor(0x5c, 0xc8, 0x50));
    disc.setColorAt(1, QColor(0x22, 0x8a, 0x2c));
    p.setPen(QPen(kDarkGreen, 6));
    p.setBrush(disc);
    p.drawEllipse(QPointF(150, 150), 144, 144);
    QPainterPath tick;
    tick.moveTo(78, 156);
    tick.lineTo(130, 208);
    tick.lineTo(224, 100);
    p.setPen(QPen(Qt::white, 34, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tick);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Application icon: a fuel pump.

QImage drawAppIcon()
{
    QImage img = transparentCanvas(48, 48);
    QPainter p;
    beginPainter(p, img);
    const QPen pen(kDarkGreen, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    // Hose and nozzle on the right.
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath hose;
    hose.moveTo(30, 14);
    hose.lineTo(38, 14);
    hose.cubicTo(44, 14, 44, 20, 42, 26);
    hose.lineTo(42, 36);
    hose.cubicTo(42, 40, 36, 40, 36, 36);
    hose.lineTo(36, 32);
    p.drawPath(hose);
    p.setPen(pen);
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawRoundedRect(QRectF(36, 8, 6, 10), 1.5, 1.5);
    // Pump body.
    p.setPen(pen);
    p.setBrush(kGreen);
    p.drawRoundedRect(QRectF(8, 5, 24, 36), 3, 3);
    // Display window.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(12, 9, 16, 11), 1.5, 1.5);
    p.setPen(QPen(kDarkGreen, 1.5));
    p.drawLine(QPointF(15, 13), QPointF(25, 13));
    p.drawLine(QPointF(15, 16.5), QPointF(22, 16.5));
    // Base.
    p.setPen(pen);
    p.setBrush(kDarkGreen);
    p.drawRect(QRectF(5, 41, 30, 4));
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Status dots

QImage drawDot(int size, const QColor &base)
{
    QImage img = transparentCanvas(size, size);
    QPainter p;
    beginPainter(p, img);
    const qreal c = size / 2.0;
    const qreal r = c - qMax(0.5, size / 40.0);
    QRadialGradient g(QPointF(c - r * 0.35, c - r * 0.35), r * 1.4);
    g.setColorAt(0, base.lighter(150));
    g.setColorAt(1, base.darker(115));
    p.setPen(QPen(base.darker(170), qMax(1.0, size / 40.0)));
    p.setBrush(g);
    p.drawEllipse(QPointF(c, c), r - 0.5, r - 0.5);
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// Brand badges: the brand name in a rounded badge of the brand's colours.

void paintBadge(QPainter &p, const QRectF &rect, const QString &text, const QColor &bg,
                const QColor &fg, qreal radius, qreal border)
{
    p.setPen(border > 0 ? QPen(bg.darker(140), border) : QPen(Qt::NoPen));
    p.setBrush(bg);
    const qreal inset = border / 2;
    p.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), radius, radius);
    const qreal pad = qMax<qreal>(3, rect.height() * 0.12);
    p.setFont(fittedFont(text, rect.width() - 2 * pad, rect.height() - 2 * pad));
    p.setPen(fg);
    p.drawText(rect, Qt::AlignCenter, text);
}

QImage drawBadgePng(int w, int h, const QString &text, const QColor &bg, const QColor &fg)
{
    QImage img = transparentCanvas(w, h);
    QPainter p;
    beginPainter(p, img);
    paintBadge(p, QRectF(0, 0, w, h), text, bg, fg, h * 0.25, 1);
    p.end();
    return img;
}

// JPEG has no transparency: these badges sit on a white square of their size.
QImage drawBadgeJpeg(int w, int h, const QString &text, const QColor &bg, const QColor &fg,
                     bool round)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p;
    beginPainter(p, img);
    const qreal m = qMin(w, h) * 0.06;
    const QRectF area(m, m, w - 2 * m, h - 2 * m);
    if (round) {
        p.setPen(QPen(bg.darker(140), m * 0.5));
        p.setBrush(bg);
        const qreal r = qMin(area.width(), area.height()) / 2;
        p.drawEllipse(area.center(), r, r);
        const qreal textBox = r * 1.5;
        p.setFont(fittedFont(text, textBox, textBox * 0.45));
        p.setPen(fg);
        p.drawText(QRectF(area.center().x() - r, area.center().y() - r, 2 * r, 2 * r),
                   Qt::AlignCenter, text);
    } else {
        paintBadge(p, area, text, bg, fg, area.height() * 0.2, m * 0.4);
    }
    p.end();
    return img;
}

// ---------------------------------------------------------------------------
// SVG files

QByteArray greenBallSvg()
{
    // The unpacked file must be exactly this many bytes; the trailing comment
    // pads it to that length.
    constexpr int kSize = 6045;
    QByteArray svg =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"120\" "
        "viewBox=\"0 0 120 120\">\n"
        "  <title>Green ball</title>\n"
        "  <defs>\n"
        "    <radialGradient id=\"body\" cx=\"0.38\" cy=\"0.34\" r=\"0.7\">\n"
        "      <stop offset=\"0\" stop-color=\"#c8f5b4\"/>\n"
        "      <stop offset=\"0.35\" stop-color=\"#5cc850\"/>\n"
        "      <stop offset=\"0.85\" stop-color=\"#228a2c\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#1b5e20\"/>\n"
        "    </radialGradient>\n"
        "    <radialGradient id=\"shine\" cx=\"0.5\" cy=\"0.5\" r=\"0.5\">\n"
        "      <stop offset=\"0\" stop-color=\"#ffffff\" stop-opacity=\"0.85\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#ffffff\" stop-opacity=\"0\"/>\n"
        "    </radialGradient>\n"
        "  </defs>\n"
        "  <circle cx=\"60\" cy=\"60\" r=\"56\" fill=\"url(#body)\" stroke=\"#1b5e20\" "
        "stroke-width=\"2\"/>\n"
        "  <ellipse cx=\"46\" cy=\"38\" rx=\"22\" ry=\"14\" fill=\"url(#shine)\"/>\n"
        "</svg>\n";
    const QByteArray open = "<!--";
    const QByteArray close = "-->\n";
    const int padding = kSize - svg.size() - open.size() - close.size();
    QByteArray comment = open;
    // Lines of spaces keep the comment valid XML (no "--" inside).
    for (int i = 0; i < padding; ++i)
        comment += (i % 64 == 63) ? '\n' : ' ';
    comment += close;
    svg += comment;
    Q_ASSERT(svg.size() == kSize);
    return svg;
}

QByteArray greenTickSvg()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" "
           "viewBox=\"0 0 64 64\">\n"
           "  <title>Green tick</title>\n"
           "  <path d=\"M10 34 L26 50 L54 16\" fill=\"none\" stroke=\"#1b5e20\" "
           "stroke-width=\"13\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
           "  <path d=\"M10 34 L26 50 L54 16\" fill=\"none\" stroke=\"#3ca53c\" "
           "stroke-width=\"8\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
           "</svg>\n";
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    g_outDir = args.at(1);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "drawicons: cannot create %s\n", qPrintable(g_outDir));
        return 1;
    }

    const int fontId = QFontDatabase::addApplicationFont(
        QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"));
    if (fontId >= 0) {
        const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
        if (!families.isEmpty())
            g_fontFamily = families.first();
    } else {
        std::fprintf(stderr, "drawicons: DejaVu Sans Bold not found, using the default font\n");
    }

    // Pictures loaded by the user interface.
    writePng(drawIreland(234, 300), "Ireland.png");
    writePng(drawSatellite(), "satellite.png");
    writePng(drawStar(), "star.png");
    writePng(drawSettings(), "settings.png");
    writePng(drawBack(), "Back.png");
    writePng(drawPlus(), "add.png");
    writePng(drawBar(800, 800, QRectF(80, 300, 640, 200), 40, 16), "greenbar.png");
    writePng(drawGreenTick(), "GreenTick.png");

    // Further pictures carried in the bundle.
    writePng(drawAppIcon(), "velmora.png");
    writePng(drawIreland(300, 234), "IrelandLandscape.png");
    writePng(drawBar(800, 267, QRectF(40, 53, 720, 160), 36, 14), "subtract.png");
    writePng(drawDot(120, QColor(0x3c, 0xb0, 0x3c)), "greendot.png");
    writePng(drawDot(12, QColor(0xd8, 0x26, 0x26)), "reddot.png");
    writePng(drawDot(12, QColor(0xf0, 0xa0, 0x10)), "amberdot.png");
    writePng(drawDot(12, QColor(0x90, 0x90, 0x90)), "staledot.png");
    writeText(greenBallSvg(), "greenball.svg");
    writeText(greenTickSvg(), "greentick.png.svg");

    // Brand badges.
    writePng(drawBadgePng(99, 25, "Emo", QColor(0x1e, 0x3a, 0x8a), Qt::white), "Emo.png");
    writePng(drawBadgePng(72, 25, "Top", QColor(0x0b, 0x6e, 0x4f), Qt::white), "Top.png");
    writePng(drawBadgePng(36, 25, "Esso", QColor(0xc8, 0x10, 0x2e), Qt::white), "Esso.png");
    writePng(drawBadgePng(100, 25, "Amber", QColor(0xf2, 0xa9, 0x00), Qt::black), "Amber.png");
    writePng(drawBadgePng(58, 25, "Maxol", QColor(0x00, 0x4b, 0x93), Qt::white), "Maxol.png");
    writePng(drawBadgePng(79, 25, "Campus", QColor(0x6a, 0x1b, 0x9a), Qt::white), "Campus.png");
    writePng(drawBadgePng(104, 18, "Independent", QColor(0x55, 0x5a, 0x64), Qt::white),
             "Independent.png");
    writePng(drawBadgePng(140, 25, "Great Gas", QColor(0x2e, 0x7d, 0x32), Qt::white),
             "Great_Gas.png");
    writeImage(drawBadgeJpeg(512, 444, "Shell", QColor(0xff, 0xd2, 0x00),
                             QColor(0xdd, 0x1d, 0x21), true),
               "Shell.jpg", "JPEG", 85);
    writeImage(drawBadgeJpeg(357, 141, "Topaz", QColor(0x00, 0x5a, 0x9c), Qt::white, false),
               "Topaz.jpg", "JPEG", 85);
    writeImage(drawBadgeJpeg(800, 800, "Texaco", QColor(0xe2, 0x1b, 0x23), Qt::white, true),
               "Texaco.jpg", "JPEG", 85);

    return g_failed ? 1 : 0;
}
