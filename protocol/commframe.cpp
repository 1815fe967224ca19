// SPDX-License-Identifier: GPL-3.0-or-later
#include "commframe.h"
#include "checksum.h"

#include <cstring>

namespace orvale {

COMM_UART_OBJ recv_obj = {};
COMM_UART_OBJ send_obj = {};
SettingsGroup apply_set = {};
SettingsGroup dev_set = {};

const QStringList fil_table = {
    QStringLiteral("No filtering"), QStringLiteral("Average value"), QStringLiteral("Median value"),
    QStringLiteral("Dithering"), QStringLiteral("Kalman"),
};
const QStringList sa_table = {
    QStringLiteral("4 Sa/s"), QStringLiteral("10 Sa/s"), QStringLiteral("62 Sa/s"), QStringLiteral("123 Sa/s"),
};
const QStringList ch_table = {
    QStringLiteral("CH1"), QStringLiteral("CH2"), QStringLiteral("CH3"), QStringLiteral("AVDD"),
};
const QStringList id_table = {
    QStringLiteral("A0"), QStringLiteral("A1"), QStringLiteral("A2"), QStringLiteral("A3"), QStringLiteral("A4"),
    QStringLiteral("A5"), QStringLiteral("A6"), QStringLiteral("A7"), QStringLiteral("A8"),
};

int registerFrameMetaType()
{
    return qRegisterMetaType<COMM_UART_OBJ>("COMM_UART_OBJ");
}

QByteArray frameBytes(const COMM_UART_OBJ &frame)
{
    return QByteArray(reinterpret_cast<const char *>(&frame), FrameSize);
}

COMM_UART_OBJ frameFromBytes(const char *data)
{
    COMM_UART_OBJ frame;
    std::memcpy(&frame, data, FrameSize);
    return frame;
}

SettingsGroup settingsOf(const COMM_UART_OBJ &frame)
{
    SettingsGroup group;
    std::memcpy(group.data(), &frame.sa_code, group.size());
    return group;
}

static uint16_t checksumOf(const COMM_UART_OBJ &frame)
{
    // A view of the record in place, the two checksum bytes left out.
    return ModbusCRC16(QByteArray::fromRawData(reinterpret_cast<const char *>(&frame), FrameSize), 2);
}

bool checksumMatches(const COMM_UART_OBJ &frame)
{
    return checksumOf(frame) == frame.crc;
}

void sealFrame(COMM_UART_OBJ &frame)
{
    frame.crc = checksumOf(frame);
}

QString codeText(const QStringList &table, uint8_t code)
{
    if (code < table.size())
        return table.at(code);
    return deviceIdText(code);
}

bool textToCode(const QStringList &table, const QString &text, uint8_t &code)
{
    bool found = false;
    for (int i = 0; i < table.size(); ++i) {
        if (QString::compare(table.at(i), text, Qt::CaseSensitive) == 0) {
            code = static_cast<uint8_t>(i);
            found = true;
        }
    }
    return found;
}

QString deviceIdText(uint8_t devId)
{
    return QStringLiteral("0x") + QString::number(devId, 16).toUpper();
}

QString valueText(uint32_t value)
{
    return QString::number(static_cast<double>(value) / 100000000.0, 'f', 8);
}

ReportTexts reportTexts(const COMM_UART_OBJ &report)
{
    return ReportTexts{
        valueText(report.value),
        deviceIdText(report.dev_id),
        codeText(ch_table, report.ch_code),
        codeText(sa_table, report.sa_code),
        codeText(fil_table, report.fil_code),
    };
}

void acceptReport(const COMM_UART_OBJ &report)
{
    recv_obj = report;
    dev_set = settingsOf(report);
}

const COMM_UART_OBJ &buildCommand(const QString &sampleRateText, const QString &filterText,
                                  const QString &channelText, const QString &deviceText)
{
    textToCode(sa_table, sampleRateText, apply_set[SettingsSampleRate]);
    textToCode(fil_table, filterText, apply_set[SettingsFilter]);
    textToCode(ch_table, channelText, apply_set[SettingsChannel]);
    uint8_t deviceCode = 0;
    if (textToCode(id_table, deviceText, deviceCode))
        send_obj.dev_id = static_cast<uint8_t>(0xA0 | deviceCode);

    std::memcpy(send_obj.echo_head, recv_obj.echo_head, sizeof send_obj.echo_head);
    std::memcpy(&send_obj.sa_code, apply_set.data(), apply_set.size());
    send_obj.value = recv_obj.value;
    send_obj.echo_tail = recv_obj.echo_tail;
    sealFrame(send_obj);
    return send_obj;
}

} // namespace orvale
