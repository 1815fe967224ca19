// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <cstdint>

namespace orvale {

// CRC-16/MODBUS register over `size` bytes, computed bit by bit.
// Used directly by the frame reader so that checking a candidate frame
// inside a larger buffer costs no copy.
[[nodiscard]] uint16_t crc16Modbus(const uint8_t *data, int size);

// The checksum every frame on the line is closed with: CRC-16/MODBUS over
// all of `senddata` except its last `crclen` bytes. An empty array gives 0
// and an array with nothing left to cover gives 0xFFFF; callers on the
// board side rely on exactly these two values, so they are kept.
[[nodiscard]] uint16_t ModbusCRC16(const QByteArray &senddata, uint8_t crclen);

} // namespace orvale
