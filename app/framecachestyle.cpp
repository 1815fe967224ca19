// SPDX-License-Identifier: GPL-3.0-or-later
#include "framecachestyle.h"

#include <QPainter>
#include <QStyleOptionFrame>

void FrameCacheStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    if (element != CE_ShapedFrame || !frame || frame->frameShape != QFrame::Panel
        || painter->deviceTransform().type() > QTransform::TxTranslate || painter->device()->devicePixelRatioF() != 1
        || frame->lineWidth <= 0 || 2 * frame->lineWidth >= qMin(option->rect.width(), option->rect.height())) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }

    const Key key{option->rect.size(),
                  option->palette.light().color().rgba(),
                  option->palette.dark().color().rgba(),
                  frame->lineWidth,
                  frame->midLineWidth,
                  int(frame->frameShape),
                  option->state};
    if (m_frame.isNull() || !(key == m_key)) {
        m_frame = QImage(option->rect.size(), QImage::Format_ARGB32_Premultiplied);
        m_frame.fill(Qt::transparent);
        QStyleOptionFrame atOrigin(*frame);
        atOrigin.rect.moveTopLeft(QPoint(0, 0));
        QPainter imagePainter(&m_frame);
        QProxyStyle::drawControl(element, &atOrigin, &imagePainter, widget);
        m_key = key;
    }

    // Only the four strips the frame covers; the inside stays untouched.
    const QRect r = option->rect;
    const int w = frame->lineWidth;
    const QRect strips[] = {QRect(0, 0, r.width(), w), QRect(0, r.height() - w, r.width(), w),
                            QRect(0, w, w, r.height() - 2 * w), QRect(r.width() - w, w, w, r.height() - 2 * w)};
    for (const QRect &strip : strips)
        painter->drawImage(strip.topLeft() + r.topLeft(), m_frame, strip);
}
