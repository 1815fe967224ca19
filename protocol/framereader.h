// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commframe.h"

#include <QByteArray>
#include <vector>

namespace orvale {

// Finds the checksum-valid 16-byte frames in a byte stream that arrives in
// reads of any size: frames split across reads, several frames in one read,
// junk before a frame. After a valid frame the scan goes on right after it;
// where no valid frame starts at a byte, that byte is dropped. At most 15
// bytes are kept between reads, so memory stays bounded whatever arrives.
class FrameReader
{
public:
    // Returns the valid frames completed by `bytes`, in stream order.
    [[nodiscard]] std::vector<COMM_UART_OBJ> feed(const QByteArray &bytes);

    // Forgets the bytes kept from earlier reads (a new connection starts afresh).
    void reset();

    // Bytes kept from earlier reads, waiting to complete a frame (0 to 15).
    int pendingSize() const { return m_pending.size(); }

private:
    QByteArray m_pending;
};

} // namespace orvale
