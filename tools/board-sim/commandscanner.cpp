// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandscanner.h"

std::vector<CommandScanner::Event> CommandScanner::feed(const QByteArray &bytes)
{
    std::vector<Event> events;
    const auto reportDropped = [&] {
        if (!m_dropped.isEmpty())
            events.push_back({Event::Ignored, m_dropped});
        m_dropped.clear();
    };

    const QByteArray stream = m_kept + bytes;
    int cursor = 0;
    for (const COMM_UART_OBJ &frame : m_reader.feed(bytes)) {
        // The reader takes the first valid window from where it stands, so the
        // frame's bytes first occur in the stream exactly where it found them.
        const QByteArray frameBytes = orvale::frameBytes(frame);
        const int at = stream.indexOf(frameBytes, cursor);
        Q_ASSERT(at >= cursor);
        m_dropped += stream.mid(cursor, at - cursor);
        reportDropped();
        events.push_back({Event::Command, frameBytes});
        cursor = at + orvale::FrameSize;
    }
    const int kept = m_reader.pendingSize();
    m_dropped += stream.mid(cursor, stream.size() - cursor - kept);
    if (m_dropped.size() >= MaxRun)
        reportDropped();
    m_kept = stream.right(kept);
    return events;
}

QByteArray CommandScanner::flush()
{
    m_reader.reset();
    const QByteArray all = m_dropped + m_kept;
    m_dropped.clear();
    m_kept.clear();
    return all;
}
