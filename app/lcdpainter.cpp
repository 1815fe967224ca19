// SPDX-License-Identifier: GPL-3.0-or-later
#include "lcdpainter.h"

#include <QLCDNumber>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

// QLCDNumber's own layout of its places over its whole width and height.
struct Layout
{
    int segLen = 0, xAdvance = 0, xOffset = 0, yOffset = 0;
};

Layout layoutOf(const QLCDNumber *lcd)
{
    const int digits = lcd->digitCount();
    const int digitSpace = lcd->smallDecimalPoint() ? 2 : 1;
    const int xSegLen = lcd->width() * 5 / (digits * (5 + digitSpace) + digitSpace);
    const int ySegLen = lcd->height() * 5 / 12;
    Layout l;
    l.segLen = std::min(xSegLen, ySegLen);
    l.xAdvance = l.segLen * (5 + digitSpace) / 5;
    l.xOffset = (lcd->width() - digits * l.xAdvance + l.segLen / 5) / 2;
    l.yOffset = (lcd->height() - l.segLen * 2) / 2;
    return l;
}

// Shows `text`, laid out as `places`, points and all. QLCDNumber takes a
// text whose characters are those it shows as unchanged, its points
// included (Qt 5.15 compares the characters alone); from a text with
// another last character it takes everything.
void showAnew(QLCDNumber *lcd, const QString &text, const QVector<LcdPainter::Place> &places)
{
    const bool eight = places.isEmpty() || places.last().ch != QLatin1Char('8');
    lcd->display(eight ? QStringLiteral("8") : QStringLiteral("0"));
    lcd->display(text);
}

} // namespace

LcdPainter::LcdPainter(QLCDNumber *lcd, QObject *parent) : QObject(parent), m_lcd(lcd)
{
    m_lcd->installEventFilter(this);
}

LcdPainter::~LcdPainter() = default;

bool LcdPainter::Setup::operator==(const Setup &o) const
{
    return size == o.size && ratio == o.ratio && paletteKey == o.paletteKey && colorGroup == o.colorGroup
        && style == o.style && enabled == o.enabled && digits == o.digits && segmentStyle == o.segmentStyle
        && frameShape == o.frameShape && frameShadow == o.frameShadow && lineWidth == o.lineWidth
        && midLineWidth == o.midLineWidth;
}

QVector<LcdPainter::Place> LcdPainter::placesOf(const QString &text, int digits)
{
    // As QLCDNumber lays out a text with small points; a cell left out here
    // would keep its old drawing on screen.
    QVector<Place> filled;
    bool lastWasPoint = true;
    for (const QChar c : text) {
        if (c == QLatin1Char('.')) {
            if (lastWasPoint) {
                if (filled.size() == digits)
                    return {};
                filled.append({QLatin1Char(' '), false});
            }
            filled.last().point = true;
            lastWasPoint = true;
        } else {
            if (filled.size() == digits)
                return {};
            filled.append({c, false});
            lastWasPoint = false;
        }
    }
    QVector<Place> places(digits - filled.size(), Place{QLatin1Char(' '), false});
    places += filled;
    return places;
}

QPalette LcdPainter::paletteAsShown(const QPalette &palette)
{
    QPalette flat(palette);
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        flat.setBrush(r, palette.brush(palette.currentColorGroup(), r));
    }
    return flat;
}

QRect LcdPainter::cellRect(int index) const
{
    const Layout l = layoutOf(m_lcd);
    // A digit and its point lie within its advance and twice the segment
    // length; antialiasing and the half-pixel shift of a shadowed frame
    // reach a pixel past that, at any device-pixel ratio.
    constexpr int Margin = 2;
    const QRect cell(l.xOffset + index * l.xAdvance - Margin, l.yOffset - Margin, l.xAdvance + 2 * Margin,
                     l.segLen * 2 + 2 * Margin);
    return cell & m_lcd->rect();
}

int LcdPainter::advance() const
{
    return layoutOf(m_lcd).xAdvance;
}

LcdPainter::Setup LcdPainter::currentSetup() const
{
    const QLCDNumber *l = m_lcd;
    Setup s;
    s.size = l->size();
    s.ratio = l->devicePixelRatioF();
    s.paletteKey = l->palette().cacheKey();
    s.colorGroup = l->palette().currentColorGroup();
    s.style = l->style();
    s.enabled = l->isEnabled();
    s.digits = l->digitCount();
    s.segmentStyle = l->segmentStyle();
    s.frameShape = l->frameShape();
    s.frameShadow = l->frameShadow();
    s.lineWidth = l->lineWidth();
    s.midLineWidth = l->midLineWidth();
    return s;
}

void LcdPainter::prepare()
{
    const Setup now = currentSetup();
    if (m_twin && now == m_setup)
        return;
    m_setup = now;
    m_drawings.clear();
    m_changes.clear();
    if (!m_twin) {
        m_twin = std::make_unique<QLCDNumber>();
        m_twin->setAttribute(Qt::WA_DontShowOnScreen);
    }
    QLCDNumber *t = m_twin.get();
    t->setStyle(m_lcd->style());
    t->setPalette(paletteAsShown(m_lcd->palette()));
    t->setAutoFillBackground(true);
    t->setEnabled(m_lcd->isEnabled());
    t->setSmallDecimalPoint(true);
    t->setDigitCount(m_lcd->digitCount());
    t->setSegmentStyle(m_lcd->segmentStyle());
    t->setFrameShape(m_lcd->frameShape());
    t->setFrameShadow(m_lcd->frameShadow());
    t->setLineWidth(m_lcd->lineWidth());
    t->setMidLineWidth(m_lcd->midLineWidth());
    t->resize(m_lcd->size());
}

QImage LcdPainter::drawingOf(const Place &place)
{
    const quint32 key = (quint32(place.ch.unicode()) << 1) | quint32(place.point);
    const auto known = m_drawings.find(key);
    if (known != m_drawings.end())
        return known->second;
    QString text(place.ch);
    if (place.point)
        text += QLatin1Char('.');
    showAnew(m_twin.get(), text, {place});
    const qreal ratio = m_setup.ratio;
    const QRect cell = cellRect(m_setup.digits - 1);
    QImage image((QSizeF(cell.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    m_twin->render(&image, QPoint(), QRegion(cell));
    m_drawings.emplace(key, image);
    return image;
}

QRect LcdPainter::changeBetween(const Place &a, const Place &b)
{
    const quint64 key = (quint64((quint32(a.ch.unicode()) << 1) | quint32(a.point)) << 32)
        | ((quint32(b.ch.unicode()) << 1) | quint32(b.point));
    const auto known = m_changes.find(key);
    if (known != m_changes.end())
        return known->second;
    const QImage before = drawingOf(a);
    const QImage after = drawingOf(b);
    // The rectangle around the pixels that differ, and a logical pixel
    // around it: at a ratio that is not whole, a place's antialiased edges
    // may fall a level differently from one place to the next. One
    // rectangle, not the differing pixels themselves: what is repainted is
    // copied or clipped cheaply, and every further rectangle of a region
    // costs in each step from the update to the screen, more than the few
    // pixels it would spare.
    const qreal ratio = m_setup.ratio;
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    for (int y = 0; y < before.height(); ++y) {
        const auto *p = reinterpret_cast<const QRgb *>(before.constScanLine(y));
        const auto *q = reinterpret_cast<const QRgb *>(after.constScanLine(y));
        for (int x = 0; x < before.width(); ++x) {
            if (p[x] == q[x])
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    QRect change;
    const QRect cell = cellRect(m_setup.digits - 1);
    if (right >= 0)
        change = QRect(QPoint(int(left / ratio) - 1, int(top / ratio) - 1), QPoint(int(right / ratio) + 1, int(bottom / ratio) + 1))
                     .translated(cell.topLeft())
            & cell;
    m_changes.emplace(key, change);
    return change;
}

bool LcdPainter::canRepaintPart() const
{
    return m_known && m_lcd->isVisible() && m_lcd->updatesEnabled() && m_lcd->mode() == QLCDNumber::Dec
        && m_lcd->smallDecimalPoint() && m_lcd->value() == m_value;
}

void LcdPainter::display(const QString &text)
{
    if (m_known && text == m_text && m_lcd->value() == m_value)
        return;
    const int digits = m_lcd->digitCount();
    const QVector<Place> after = placesOf(text, digits);
    if (!canRepaintPart()) {
        // The LCD repaints all of itself.
        showAnew(m_lcd, text, after);
    } else {
        prepare();
        const QVector<Place> before = placesOf(m_text, digits);
        const int step = advance();
        // A rectangle for each place that changes, on Qt 6 one for each run
        // of neighbouring places that change. Each rectangle of the region
        // costs a Qt 6 window more wake-ups, its X backing store's doing:
        // at 123 reports/s a rectangle a place took it 300 context switches
        // a second against 200 with one (Qt 5: 190 either way). A run is
        // mostly the last few places, so one rectangle, which on Qt 5
        // would only repaint more pixels.
        constexpr bool oneRectangleARun = QT_VERSION_MAJOR >= 6;
        QRegion changed;
        if (before.isEmpty() || after.isEmpty())
            changed = m_lcd->rect();
        QRect run;
        for (int i = 0; i < digits && !before.isEmpty() && !after.isEmpty(); ++i) {
            if (before[i] != after[i])
                run |= changeBetween(before[i], after[i]).translated((i - (digits - 1)) * step, 0);
            if (!oneRectangleARun || before[i] == after[i] || i == digits - 1) {
                changed += run;
                run = QRect();
            }
        }
        // The LCD's own update would ask for all of it to be repainted.
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled);
        showAnew(m_lcd, text, after);
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled, false);
        m_lcd->update(changed);
    }
    m_text = text;
    m_value = m_lcd->value();
    m_known = true;
}

bool LcdPainter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lcd && event->type() == QEvent::Paint)
        return paintFromDrawings(static_cast<QPaintEvent *>(event)->region());
    return QObject::eventFilter(watched, event);
}

bool LcdPainter::paintFromDrawings(const QRegion &region)
{
    // Only what the drawings were made for, and only what display() asked
    // to repaint: the digit cells.
    if (!m_twin || !canRepaintPart() || m_setup.ratio != 1.0 || !(currentSetup() == m_setup))
        return false;
    const int digits = m_setup.digits;
    const QVector<Place> places = placesOf(m_text, digits);
    if (places.isEmpty())
        return false;
    const Layout l = layoutOf(m_lcd);
    const QRect last = cellRect(digits - 1);
    // Where place i's drawing goes, and the part of it that place paints: a
    // drawing reaches a little into its neighbours' for antialiased edges,
    // so each place paints from where its advance begins to where the next
    // one's does, the outer places out to their drawings' edges.
    const auto areaOf = [&](int i) {
        const QRect drawing = last.translated((i - (digits - 1)) * l.xAdvance, 0);
        QRect own = drawing;
        if (i > 0)
            own.setLeft(l.xOffset + i * l.xAdvance);
        if (i < digits - 1)
            own.setRight(l.xOffset + (i + 1) * l.xAdvance - 1);
        return std::make_pair(drawing, own & m_lcd->rect());
    };
    // The places' own parts side by side: from the first drawing's left
    // edge to the last one's right.
    const QRect covered = QRect(areaOf(0).first.topLeft(), last.bottomRight()) & m_lcd->rect();
    if (!covered.contains(region.boundingRect()))
        return false;
    // The drawings first: one not made yet is made by the hidden LCD, which
    // had better not paint while this one does.
    struct Part
    {
        QRegion region;
        QPoint at;
        QImage drawing;
    };
    std::vector<Part> parts;
    for (int i = 0; i < digits; ++i) {
        const auto [drawing, own] = areaOf(i);
        const QRegion part = region & own;
        if (!part.isEmpty())
            parts.push_back({part, drawing.topLeft(), drawingOf(places[i])});
    }
    QPainter painter(m_lcd);
    for (const Part &part : parts) {
        painter.setClipRegion(part.region);
        painter.drawImage(part.at, part.drawing);
    }
    return true;
}

#include "moc_lcdpainter.cpp"
