// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QProxyStyle>

// Draws the LCD's panel frame from strips rendered once by the window's own
// style. The frame is eight pixels wide; drawn line by line it cost about a
// third of every redraw of the LCD, which is redrawn for each new value.
// The strips hold exactly the pixels the style draws, so nothing on screen
// changes; any other frame, or one under a scaling transform, is drawn by
// the style as before.
class FrameCacheStyle : public QProxyStyle
{
    Q_OBJECT

public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;

private:
    struct Key
    {
        QSize size;
        QRgb light = 0, dark = 0;
        int lineWidth = 0, midLineWidth = 0, shape = 0;
        QStyle::State state;
        bool operator==(const Key &o) const
        {
            return size == o.size && light == o.light && dark == o.dark && lineWidth == o.lineWidth
                && midLineWidth == o.midLineWidth && shape == o.shape && state == o.state;
        }
    };
    mutable Key m_key;
    mutable QImage m_frame;  // the frame alone, transparent inside
};
