// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framereader.h"

#include <QByteArray>
#include <vector>

// Splits the bytes a client writes into command frames and the bytes that
// formed none. The frame reader decides what a valid frame is; this class
// only keeps track of which bytes it dropped, so they can be logged.
//
// Dropped bytes are gathered rather than reported one by one, so that one
// bad frame shows as one run of bytes: the run is reported when a valid
// frame follows it, when the line goes quiet (flush), or once it reaches
// MaxRun bytes, which keeps memory bounded whatever a client writes.
class CommandScanner
{
public:
    static constexpr int MaxRun = 256;

    struct Event
    {
        enum Kind { Command, Ignored };
        Kind kind;
        QByteArray bytes;  // the 16 bytes of a command, or the dropped bytes
    };

    // Events completed by `bytes`, in stream order.
    [[nodiscard]] std::vector<Event> feed(const QByteArray &bytes);

    // Gives up on everything not yet reported: the dropped bytes and those
    // kept for a frame that has not completed. Returns them (empty if none).
    [[nodiscard]] QByteArray flush();

    // Bytes not yet reported as a command or as ignored.
    int pendingSize() const { return m_dropped.size() + m_kept.size(); }

private:
    orvale::FrameReader m_reader;
    QByteArray m_dropped;  // dropped by the reader, not yet reported
    QByteArray m_kept;     // the same bytes the reader keeps between reads
};
