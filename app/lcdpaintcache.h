// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QRegion>
#include <QVector>

#include <unordered_map>

class QLCDNumber;
class QStyle;

// Paints the LCD from cached images of its digits. Qt draws every digit of
// the LCD anew, antialiased, segment by segment, at each new value; that was
// nine tenths of the window's work at the board's default rate. Each image
// is what the LCD itself draws for one character (and point) in one place,
// rendered once by a hidden LCD of the same size, palette and style, so the
// pixels on screen stay the same. The value must be shown through
// display(); texts the images cannot stand for exactly (more characters
// than digits, points in a row, digits whose drawings would overlap) are
// painted by the LCD itself.
class LcdPaintCache : public QObject
{
    Q_OBJECT

public:
    LcdPaintCache(QLCDNumber *lcd, QObject *parent);
    ~LcdPaintCache() override;

    void display(const QString &text);
    // Whether the last paint of the LCD came from the images.
    bool paintedFromImages() const { return m_paintedFromImages; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Cell
    {
        QImage image;
        QPoint at;
        QRect rect() const { return QRect(at, image.size()); }
    };
    bool paint(const QRegion &region);
    bool prepare();
    // The image drawn in each of the LCD's places for this text (null where
    // a place stays blank), or false when the images cannot stand for it.
    bool cellsFor(const QString &text, QVector<const Cell *> &cells);
    // The images of the text shown, worked out once per text; false when
    // they cannot stand for it.
    bool shownCells();
    QImage render(const QString &text);
    const Cell &cell(int index, QChar ch, bool point);

    QLCDNumber *m_lcd;
    QLCDNumber *m_twin;
    bool m_plain = false;  // the LCD paints itself
    bool m_paintedFromImages = false;
    QString m_text;
    bool m_known = false;  // m_text is what the LCD shows
    // What the images were rendered for.
    QSize m_size;
    QPalette m_palette;
    qint64 m_paletteKey = 0;
    QPalette::ColorGroup m_paletteGroup = QPalette::NColorGroups;
    QPointer<QStyle> m_style;
    bool m_enabled = true;
    int m_digits = 0, m_segmentStyle = 0, m_frameShape = 0, m_frameShadow = 0, m_lineWidth = 0,
        m_midLineWidth = 0;
    QImage m_blank;
    // A node map: its elements stay where they are as it grows (a QHash's
    // move on Qt 6), so pointers to them hold until it is cleared.
    std::unordered_map<quint64, Cell> m_cells;
    // Pointers into m_cells for m_text, valid until the images are rendered anew.
    QVector<const Cell *> m_shown;
    bool m_shownValid = false;
};
