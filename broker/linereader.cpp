// SPDX-License-Identifier: GPL-3.0-or-later
#include "linereader.h"

using orvale::lineprotocol::LineReport;

QVector<LineReport> LineReader::read(const QByteArray &payload)
{
    QVector<LineReport> reports;
    if (payload.size() > MaxPayload) {
        ++m_rejected;
        return reports;
    }
    const char *p = payload.constData();
    const char *const end = p + payload.size();
    LineReport report;
    while (p < end) {
        const char *lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n')
            ++lineEnd;
        const bool blank = lineEnd == p || (lineEnd == p + 1 && *p == '\r');
        if (!blank) {
            if (!orvale::lineprotocol::parseLine(p, lineEnd, report)) {
                ++m_rejected;
            } else if (m_lastSeq == 0 || report.seq > m_lastSeq) {
                if (m_lastSeq > 0)
                    m_lost += report.seq - m_lastSeq - 1;
                m_lastSeq = report.seq;
                m_lastTimeNs = report.timeNs;
                reports.append(report);
            } else if (report.timeNs > m_lastTimeNs) {
                // Counting from the start again at a later time: a new run
                // of the publisher, whose reports before this one are unknown.
                ++m_restarts;
                m_lost += report.seq - 1;
                m_lastSeq = report.seq;
                m_lastTimeNs = report.timeNs;
                reports.append(report);
            } else {
                ++m_duplicates;
            }
        }
        p = lineEnd + 1;
    }
    return reports;
}
