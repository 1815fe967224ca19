// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSerialPort>
#include <QString>

#include <optional>

namespace orvale {

// The settings of the board's line, read once from the window's boxes or
// the command line and then carried as values. The defaults are the
// window's starting entries: 9600 baud, 8 data bits, no parity, one stop bit.
struct LineSettings
{
    qint32 baud = 9600;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    // The stop-bits entry as the operator chose it, 0 or 1. No line has
    // zero stop bits: both mean one (stopBits()); the entry is kept so the
    // window shows what was chosen.
    int stopBitsEntry = 1;

    [[nodiscard]] QSerialPort::StopBits stopBits() const { return QSerialPort::OneStop; }

    // The entries as the window's boxes and the command line write them:
    // "9600", "7" or "8", "0" (none) or "1" (even), "0" or "1".
    [[nodiscard]] static std::optional<qint32> parseBaud(const QString &text);
    [[nodiscard]] static std::optional<QSerialPort::DataBits> parseDataBits(const QString &text);
    [[nodiscard]] static std::optional<QSerialPort::Parity> parseParity(const QString &text);
    [[nodiscard]] static std::optional<int> parseStopBitsEntry(const QString &text);
    [[nodiscard]] static QString dataBitsText(QSerialPort::DataBits dataBits);
    [[nodiscard]] static QString parityText(QSerialPort::Parity parity);

    // The four entries at once (the window's boxes); nothing when one of
    // them is not an entry.
    [[nodiscard]] static std::optional<LineSettings> fromEntries(const QString &baud, const QString &dataBits,
                                                                 const QString &parity, const QString &stopBits);

    // Sets them on an open port, flow control off; false at the first the
    // port refuses (a pseudo-terminal takes only 8 data bits, no parity).
    [[nodiscard]] bool applyTo(QSerialPort &port) const;

    friend bool operator==(const LineSettings &a, const LineSettings &b)
    {
        return a.baud == b.baud && a.dataBits == b.dataBits && a.parity == b.parity
            && a.stopBitsEntry == b.stopBitsEntry;
    }
};

// The device node a port name stands for: a name beginning with '/' is a
// path as it stands, any other name lives in /dev.
[[nodiscard]] QString portPath(const QString &name);

// Opens `port` on the node `name` stands for, for reading and writing, then
// sets the line on it. False when either fails; the port's errorString()
// says why and the caller closes it.
[[nodiscard]] bool openLine(QSerialPort &port, const QString &name, const LineSettings &settings);

} // namespace orvale
