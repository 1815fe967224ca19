// SPDX-License-Identifier: GPL-3.0-or-later
#include "checksum.h"

namespace orvale {

uint16_t crc16Modbus(const uint8_t *data, int size)
{
    uint16_t reg = 0xFFFF;
    for (int i = 0; i < size; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            if (reg & 1u)
                reg = static_cast<uint16_t>((reg >> 1) ^ 0xA001u);
            else
                reg = static_cast<uint16_t>(reg >> 1);
        }
    }
    return reg;
}

uint16_t ModbusCRC16(const QByteArray &senddata, uint8_t crclen)
{
    if (senddata.isEmpty())
        return 0;
    const int covered = senddata.size() - static_cast<int>(crclen);
    if (covered <= 0)
        return 0xFFFF;
    return crc16Modbus(reinterpret_cast<const uint8_t *>(senddata.constData()), covered);
}

} // namespace orvale
