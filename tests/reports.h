// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reports as a suite's board sends them: the worked report's device and
// settings (0xA1, 10 Sa/s, Kalman, AVDD) unless a suite asks for others, a
// value of its own, and a valid checksum.

#include "commframe.h"

#include <QByteArray>

inline QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

inline COMM_UART_OBJ reportFrame(uint32_t value, uint8_t sa = 1, uint8_t ch = 3)
{
    COMM_UART_OBJ frame{0xA1, {}, sa, 4, 0, ch, value, 0, 0};
    orvale::sealFrame(frame);
    return frame;
}

inline QByteArray reportBytes(uint32_t value, uint8_t sa = 1, uint8_t ch = 3)
{
    return orvale::frameBytes(reportFrame(value, sa, ch));
}
