// SPDX-License-Identifier: GPL-3.0-or-later
#include "linesettings.h"

namespace orvale {

std::optional<qint32> LineSettings::parseBaud(const QString &text)
{
    // Digits only: "+9600" or " 9600" is a typing slip, not a rate.
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint32 baud = text.toInt(&ok, 10);
    if (!ok || baud <= 0)
        return std::nullopt;
    return baud;
}

std::optional<QSerialPort::DataBits> LineSettings::parseDataBits(const QString &text)
{
    if (text == QLatin1String("7"))
        return QSerialPort::Data7;
    if (text == QLatin1String("8"))
        return QSerialPort::Data8;
    return std::nullopt;
}

std::optional<QSerialPort::Parity> LineSettings::parseParity(const QString &text)
{
    if (text == QLatin1String("0"))
        return QSerialPort::NoParity;
    if (text == QLatin1String("1"))
        return QSerialPort::EvenParity;
    return std::nullopt;
}

std::optional<int> LineSettings::parseStopBitsEntry(const QString &text)
{
    if (text == QLatin1String("0") || text == QLatin1String("1"))
        return text.toInt();
    return std::nullopt;
}

QString LineSettings::dataBitsText(QSerialPort::DataBits dataBits)
{
    return QString::number(int(dataBits));
}

QString LineSettings::parityText(QSerialPort::Parity parity)
{
    return parity == QSerialPort::EvenParity ? QStringLiteral("1") : QStringLiteral("0");
}

std::optional<LineSettings> LineSettings::fromEntries(const QString &baud, const QString &dataBits,
                                                      const QString &parity, const QString &stopBits)
{
    const auto b = parseBaud(baud);
    const auto d = parseDataBits(dataBits);
    const auto p = parseParity(parity);
    const auto s = parseStopBitsEntry(stopBits);
    if (!b || !d || !p || !s)
        return std::nullopt;
    LineSettings settings;
    settings.baud = *b;
    settings.dataBits = *d;
    settings.parity = *p;
    settings.stopBitsEntry = *s;
    return settings;
}

bool LineSettings::applyTo(QSerialPort &port) const
{
    return port.setBaudRate(baud, QSerialPort::AllDirections) && port.setDataBits(dataBits)
        && port.setParity(parity) && port.setStopBits(stopBits())
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

QString portPath(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

bool openLine(QSerialPort &port, const QString &name, const LineSettings &settings)
{
    // The port library would read "./x" as a path too; naming the node
    // here keeps one meaning of a name for the opening and the watcher.
    port.setPortName(portPath(name));
    // Opened first, then set: the device takes each setting on the open line.
    return port.open(QIODevice::ReadWrite) && settings.applyTo(port);
}

} // namespace orvale
