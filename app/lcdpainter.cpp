// SPDX-License-Identifier: GPL-3.0-or-later
#include "lcdpainter.h"

#include <QLCDNumber>
#include <QRegion>

#include <algorithm>

LcdPainter::LcdPainter(QLCDNumber *lcd, QObject *parent) : QObject(parent), m_lcd(lcd)
{
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
                    break;
                filled.append({QLatin1Char(' '), false});
            }
            filled.last().point = true;
            lastWasPoint = true;
        } else {
            if (filled.size() == digits)
                break;
            filled.append({c, false});
            lastWasPoint = false;
        }
    }
    QVector<Place> places(digits - filled.size(), Place{QLatin1Char(' '), false});
    places += filled;
    return places;
}

QRect LcdPainter::cellRect(int index) const
{
    // QLCDNumber's own layout of its places over its whole width and height.
    const int digits = m_lcd->digitCount();
    const int width = m_lcd->width();
    const int height = m_lcd->height();
    const int digitSpace = m_lcd->smallDecimalPoint() ? 2 : 1;
    const int xSegLen = width * 5 / (digits * (5 + digitSpace) + digitSpace);
    const int ySegLen = height * 5 / 12;
    const int segLen = std::min(xSegLen, ySegLen);
    const int xAdvance = segLen * (5 + digitSpace) / 5;
    const int xOffset = (width - digits * xAdvance + segLen / 5) / 2;
    const int yOffset = (height - segLen * 2) / 2;
    // A digit and its point lie within its advance and twice the segment
    // length; antialiasing and the half-pixel shift of a shadowed frame
    // reach a pixel past that, at any device-pixel ratio.
    constexpr int Margin = 2;
    const QRect cell(xOffset + index * xAdvance - Margin, yOffset - Margin, xAdvance + 2 * Margin,
                     segLen * 2 + 2 * Margin);
    return cell & m_lcd->rect();
}

bool LcdPainter::canRepaintPart() const
{
    return m_known && m_lcd->isVisible() && m_lcd->updatesEnabled() && m_lcd->mode() == QLCDNumber::Dec
        && m_lcd->smallDecimalPoint() && m_lcd->value() == m_value;
}

void LcdPainter::display(const QString &text)
{
    if (!canRepaintPart() || text == m_text) {
        m_lcd->display(text);
    } else {
        const int digits = m_lcd->digitCount();
        const QVector<Place> before = placesOf(m_text, digits);
        const QVector<Place> after = placesOf(text, digits);
        QRegion changed;
        for (int i = 0; i < digits; ++i)
            if (before[i] != after[i])
                changed += cellRect(i);
        // The LCD's own update would ask for all of it to be repainted.
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled);
        m_lcd->display(text);
        m_lcd->setAttribute(Qt::WA_UpdatesDisabled, false);
        m_lcd->update(changed);
    }
    m_text = text;
    m_value = m_lcd->value();
    m_known = true;
}

#include "moc_lcdpainter.cpp"
