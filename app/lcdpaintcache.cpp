// SPDX-License-Identifier: GPL-3.0-or-later
#include "lcdpaintcache.h"

#include <QEvent>
#include <QPaintEvent>
#include <QLCDNumber>
#include <QPainter>
#include <QRegion>
#include <QStyle>

namespace {

// The palette's colours of the group the LCD paints with, in every group:
// the hidden LCD is never in an active window, so it would pick another.
QPalette flattened(const QPalette &palette)
{
    QPalette flat(palette);
    const QPalette::ColorGroup current = palette.currentColorGroup();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = QPalette::ColorRole(role);
        flat.setBrush(r, palette.brush(current, r));
    }
    return flat;
}

}  // namespace

LcdPaintCache::LcdPaintCache(QLCDNumber *lcd, QObject *parent)
    : QObject(parent), m_lcd(lcd), m_twin(new QLCDNumber)
{
    m_twin->setAttribute(Qt::WA_DontShowOnScreen);
    // Measuring what the images buy needs the LCD painting itself.
    if (qEnvironmentVariable("ORVALE_PAINT_PLAIN").contains(QLatin1String("lcdcache"))) {
        m_plain = true;
        return;
    }
    // Every paint covers the whole LCD, so what lies beneath it need not be
    // painted first: that fill of the window's background cost as much as
    // the digits themselves.
    m_lcd->setAttribute(Qt::WA_OpaquePaintEvent);
    m_lcd->installEventFilter(this);
}

LcdPaintCache::~LcdPaintCache()
{
    delete m_twin;
}

void LcdPaintCache::display(const QString &text)
{
    if (m_plain) {
        m_lcd->display(text);
        return;
    }
    QVector<const Cell *> after;
    const bool partial = m_known && m_lcd->isVisible() && m_lcd->updatesEnabled() && prepare()
        && m_lcd->value() == m_text.toDouble() && shownCells() && cellsFor(text, after);
    if (partial) {
        // Only the places whose drawing changes are painted again: at the
        // board's rate the last few digits change, and the LCD would
        // otherwise be copied whole to the screen at every report.
        QRegion changed;
        for (int i = 0; i < m_digits; ++i) {
            const Cell *before = m_shown[i];
            if (before == after[i])
                continue;
            if (before)
                changed += before->rect();
            if (after[i])
                changed += after[i]->rect();
        }
        // The LCD asks for a whole repaint of itself at every new text.
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled);
        m_lcd->display(text);
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled, false);
        m_lcd->update(changed);
    } else {
        m_lcd->display(text);
    }
    m_text = text;
    m_known = true;
    // The images of the new text, worked out above, serve its paints.
    m_shown = after;
    m_shownValid = partial;
}

bool LcdPaintCache::shownCells()
{
    if (!m_shownValid)
        m_shownValid = cellsFor(m_text, m_shown);
    return m_shownValid;
}

bool LcdPaintCache::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_lcd || event->type() != QEvent::Paint)
        return false;
    m_paintedFromImages = paint(static_cast<QPaintEvent *>(event)->region());
    if (m_paintedFromImages)
        return true;
    // The LCD paints only its frame and segments: lay the background the
    // window would have painted beneath it, as the cached images hold it.
    QPainter p(m_lcd);
    p.fillRect(static_cast<QPaintEvent *>(event)->rect(), m_lcd->palette().brush(QPalette::Window));
    return false;
}

bool LcdPaintCache::prepare()
{
    QLCDNumber *l = m_lcd;
    if (!m_known || !l->smallDecimalPoint() || l->mode() != QLCDNumber::Dec || l->devicePixelRatioF() != 1
        || l->width() <= 0 || l->height() <= 0)
        return false;
    // Flattening and comparing palettes at every paint costs more than the
    // digits: a palette that is still the same object in the same group is
    // the same palette.
    const QPalette &own = l->palette();
    bool paletteChanged = false;
    if (own.cacheKey() != m_paletteKey || own.currentColorGroup() != m_paletteGroup) {
        m_paletteKey = own.cacheKey();
        m_paletteGroup = own.currentColorGroup();
        const QPalette palette = flattened(own);
        paletteChanged = !(m_palette == palette);
        if (paletteChanged)
            m_palette = palette;
    }
    if (m_blank.isNull() || m_size != l->size() || paletteChanged || m_style != l->style()
        || m_enabled != l->isEnabled() || m_digits != l->digitCount() || m_segmentStyle != l->segmentStyle()
        || m_frameShape != l->frameShape() || m_frameShadow != l->frameShadow() || m_lineWidth != l->lineWidth()
        || m_midLineWidth != l->midLineWidth()) {
        m_size = l->size();
        m_style = l->style();
        m_enabled = l->isEnabled();
        m_digits = l->digitCount();
        m_segmentStyle = l->segmentStyle();
        m_frameShape = l->frameShape();
        m_frameShadow = l->frameShadow();
        m_lineWidth = l->lineWidth();
        m_midLineWidth = l->midLineWidth();
        m_twin->setStyle(l->style());
        m_twin->setPalette(m_palette);
        m_twin->setEnabled(m_enabled);
        m_twin->setSmallDecimalPoint(true);
        m_twin->setDigitCount(m_digits);
        m_twin->setSegmentStyle(l->segmentStyle());
        m_twin->setFrameShape(l->frameShape());
        m_twin->setFrameShadow(l->frameShadow());
        m_twin->setLineWidth(m_lineWidth);
        m_twin->setMidLineWidth(m_midLineWidth);
        m_twin->resize(m_size);
        m_cells.clear();
        m_shownValid = false;
        m_blank = render(QString(m_digits, QLatin1Char(' ')));
    }
    return true;
}

QImage LcdPaintCache::render(const QString &text)
{
    m_twin->display(text);
    QImage image(m_size, QImage::Format_RGB32);
    m_twin->render(&image);
    return image;
}

const LcdPaintCache::Cell &LcdPaintCache::cell(int index, QChar ch, bool point)
{
    const quint64 key = (quint64(index) << 32) | (quint64(ch.unicode()) << 1) | quint64(point);
    const auto it = m_cells.find(key);
    if (it != m_cells.end())
        return it->second;
    // The character alone in its place; the digits right of it blank.
    QString text(ch);
    if (point)
        text += QLatin1Char('.');
    text += QString(m_digits - 1 - index, QLatin1Char(' '));
    const QImage image = render(text);
    // Only the pixels the character changes.
    QRect changed;
    for (int y = 0; y < image.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(m_blank.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (a[x] != b[x])
                changed |= QRect(x, y, 1, 1);
    }
    Cell c;
    if (!changed.isEmpty()) {
        c.image = image.copy(changed);
        c.at = changed.topLeft();
    }
    return m_cells.emplace(key, std::move(c)).first->second;
}

bool LcdPaintCache::cellsFor(const QString &text, QVector<const Cell *> &cells)
{
    // The digits as the LCD lays out this text: right-aligned, a point
    // belonging to the character before it.
    QVector<QPair<QChar, bool>> chars;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('.')) {
            chars.append({text[i], false});
        } else {
            if (chars.isEmpty() || chars.last().second)
                return false;
            chars.last().second = true;
        }
    }
    if (chars.size() > m_digits)
        return false;
    cells.fill(nullptr, m_digits);
    const int first = m_digits - chars.size();
    for (int i = 0; i < chars.size(); ++i) {
        const Cell &c = cell(first + i, chars[i].first, chars[i].second);
        if (c.image.isNull())
            continue;
        const QRect r = c.rect();
        for (const Cell *other : qAsConst(cells))
            if (other && r.intersects(other->rect()))
                return false;
        cells[first + i] = &c;
    }
    return true;
}

bool LcdPaintCache::paint(const QRegion &region)
{
    // A value shown on the LCD directly, past display(), is painted by the LCD.
    if (!prepare() || m_lcd->value() != m_text.toDouble() || !shownCells())
        return false;
    // Each pixel is copied once: the blank LCD only where no digit's image
    // lies. Copying is most of a repaint's cost, and its time goes to
    // fetching the lines of the images, so fewer lines make it cheaper.
    QRegion bare = region;
    for (const Cell *c : qAsConst(m_shown))
        if (c)
            bare -= c->rect();
    QPainter p(m_lcd);
    for (const QRect &r : bare)
        p.drawImage(r.topLeft(), m_blank, r);
    for (const Cell *c : qAsConst(m_shown))
        if (c && region.intersects(c->rect()))
            p.drawImage(c->at, c->image);
    return true;
}
