// SPDX-License-Identifier: GPL-3.0-or-later
#include "framereader.h"
#include "checksum.h"

namespace orvale {

static bool validFrameAt(const uint8_t *p)
{
    const uint16_t stored = static_cast<uint16_t>(p[14] | (p[15] << 8));
    return crc16Modbus(p, FrameSize - 2) == stored;
}

std::vector<COMM_UART_OBJ> FrameReader::feed(const QByteArray &bytes)
{
    std::vector<COMM_UART_OBJ> frames;
    if (bytes.isEmpty())
        return frames;

    // Scan the kept tail and the new read as one stream.
    const QByteArray stream = m_pending.isEmpty() ? bytes : m_pending + bytes;
    const auto *data = reinterpret_cast<const uint8_t *>(stream.constData());
    const int size = stream.size();

    int pos = 0;
    while (size - pos >= FrameSize) {
        if (validFrameAt(data + pos)) {
            frames.push_back(frameFromBytes(stream.constData() + pos));
            pos += FrameSize;
        } else {
            ++pos;
        }
    }
    m_pending = stream.mid(pos);
    return frames;
}

void FrameReader::reset()
{
    m_pending.clear();
}

} // namespace orvale
