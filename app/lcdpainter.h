// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QVector>

class QLCDNumber;

// Shows texts on an LCD and has it repaint only the digit cells whose
// character or point changed. QLCDNumber asks for a repaint of all of
// itself at every new text; with a real board's microvolt noise only the
// last two or three of its digits change between refreshes, so most of
// that repaint, and of the copy of it to the screen, was of unchanged
// pixels. The LCD still paints itself, clipped to the changed cells, so
// what the screen shows is its own painting at any device-pixel ratio and
// on any Qt version, and nothing is cached that a style, palette or size
// change could leave stale. Values must be shown through display(); a text
// shown past it, or an LCD not in decimal mode with small points, is
// repainted whole as the LCD asks.
class LcdPainter : public QObject
{
    Q_OBJECT

public:
    explicit LcdPainter(QLCDNumber *lcd, QObject *parent = nullptr);

    void display(const QString &text);

    // One place of the LCD: its character and whether its point is lit.
    struct Place
    {
        QChar ch;
        bool point = false;
        bool operator==(const Place &other) const { return ch == other.ch && point == other.point; }
        bool operator!=(const Place &other) const { return !(*this == other); }
    };
    // The places as the LCD lays out `text` over `digits` places with small
    // points: right-aligned, a point belonging to the character before it,
    // two points in a row a blank between them, characters past the last
    // place dropped.
    [[nodiscard]] static QVector<Place> placesOf(const QString &text, int digits);
    // The rectangle, in the LCD's own coordinates, that holds everything the
    // LCD paints for place `index`, antialiased edges included.
    [[nodiscard]] QRect cellRect(int index) const;

private:
    [[nodiscard]] bool canRepaintPart() const;

    QLCDNumber *m_lcd = nullptr;
    QString m_text;
    bool m_known = false;  // m_text is what the LCD shows
    double m_value = 0;    // the LCD's value for m_text, to notice a text shown past display()
};
