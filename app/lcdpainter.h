// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QVector>

#include <map>
#include <memory>

class QLCDNumber;
class QStyle;

// Shows texts on an LCD and has it repaint only the parts of the digit
// cells whose drawing changes. QLCDNumber asks for a repaint of all of
// itself at every new text; with a real board's microvolt noise only the
// last two to four of its ten places change between refreshes, and within
// a place only the segments that go on or off, so most of that repaint,
// and of the copy of it to the screen, was of unchanged pixels.
//
// What changes between two characters in a place is found once per pair,
// from a hidden LCD of the same size, ratio, style and palette painting
// each of them, and kept as a rectangle by value (nothing points into the
// store, which may move as it grows); any change to the LCD's setup starts
// the store afresh. A place's drawing is the same in every place, shifted
// by whole logical pixels, so one rectangle serves all places.
//
// Clipping alone does not make the LCD's painting cheap: it still lays out
// and fills every segment of every place, and the raster engine then
// throws away what falls outside the clip. That was three quarters of the
// window's instructions at the board's rate. So at a device-pixel ratio of
// 1 the changed parts are copied from the hidden LCD's drawings, which are
// its own painting of the same character in the same place pixel for
// pixel. At any other ratio a place shifted by whole logical pixels may
// fall on other device pixels, and the LCD paints itself, clipped. So does
// any paint the painter did not ask for (an expose, a resize).
// Values must be shown through display(); a text shown past it, or an LCD
// not in decimal mode with small points, is repainted whole as the LCD
// asks.
class LcdPainter : public QObject
{
    Q_OBJECT

public:
    explicit LcdPainter(QLCDNumber *lcd, QObject *parent = nullptr);
    ~LcdPainter() override;

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
    // two points in a row a blank between them; none for a text with more
    // places than the LCD has, which the LCD shows in a way of its own.
    [[nodiscard]] static QVector<Place> placesOf(const QString &text, int digits);
    // The rectangle, in the LCD's own coordinates, that holds everything the
    // LCD paints for place `index`, antialiased edges included.
    [[nodiscard]] QRect cellRect(int index) const;
    // The colours the LCD paints with, in every group: an LCD painted apart
    // (hidden, never in an active window) would otherwise pick another group.
    [[nodiscard]] static QPalette paletteAsShown(const QPalette &palette);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // What the hidden LCD's drawings were made for.
    struct Setup
    {
        QSize size;
        qreal ratio = 0;
        qint64 paletteKey = 0;
        int colorGroup = -1;
        QPointer<QStyle> style;
        bool enabled = true;
        int digits = 0, segmentStyle = 0, frameShape = 0, frameShadow = 0, lineWidth = 0, midLineWidth = 0;
        bool operator==(const Setup &o) const;
    };
    [[nodiscard]] bool canRepaintPart() const;
    [[nodiscard]] Setup currentSetup() const;
    void prepare();
    // What differs between two characters in the last place, in the LCD's
    // logical coordinates.
    [[nodiscard]] QRect changeBetween(const Place &a, const Place &b);
    // The hidden LCD's drawing of a character in the last place, its cell alone.
    [[nodiscard]] QImage drawingOf(const Place &place);
    [[nodiscard]] int advance() const;
    // Paints `region` of the LCD from the drawings of the places it shows;
    // false, having painted nothing, where they cannot stand for the LCD's
    // own painting.
    bool paintFromDrawings(const QRegion &region);

    QLCDNumber *m_lcd = nullptr;
    std::unique_ptr<QLCDNumber> m_twin;
    Setup m_setup;
    std::map<quint32, QImage> m_drawings;
    std::map<quint64, QRect> m_changes;
    QString m_text;
    bool m_known = false;  // m_text is what the LCD shows
    double m_value = 0;    // the LCD's value for m_text, to notice a text shown past display()
};
