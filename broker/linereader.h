// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lineprotocol.h"

#include <QByteArray>
#include <QVector>

// Turns the messages of a PREFIX/reports topic back into reports, in order,
// each once. Payloads come from the network and are hostile input: a line
// that does not read is counted and skipped, a payload beyond MaxPayload is
// refused whole, and nothing else is kept between messages but three numbers.
//
// QoS 1 may deliver a message twice, so a report whose seq is not past the
// newest one is dropped, unless its time is also past the newest one's: the
// publisher started again and counts from 1. A step in seq larger than one
// counts the missing reports as lost.
class LineReader
{
public:
    static constexpr int MaxPayload = 16 * 1024 * 1024;

    // The new reports of one message, oldest first.
    [[nodiscard]] QVector<orvale::lineprotocol::LineReport> read(const QByteArray &payload);

    qint64 lost() const { return m_lost; }
    qint64 duplicates() const { return m_duplicates; }
    qint64 rejectedLines() const { return m_rejected; }
    qint64 restarts() const { return m_restarts; }

private:
    qint64 m_lastSeq = 0;
    qint64 m_lastTimeNs = 0;
    qint64 m_lost = 0;
    qint64 m_duplicates = 0;
    qint64 m_rejected = 0;
    qint64 m_restarts = 0;
};
