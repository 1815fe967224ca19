// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

class ReportHistory;

// What the trend view covers, as the operator chose it: the last stretch of
// time (or the whole history), up to where a pause froze it, narrowed to
// between the two cursors when they are set. A value, so that a view and its
// scheduler tell the operator's changes from reports arriving by comparing.
struct SpanChoice
{
    // The lengths the span box offers, in its order; the last is the whole history.
    static constexpr int LengthCount = 5;
    static constexpr int WholeHistory = LengthCount - 1;

    // The stretch of the history the plot shows, and its times (ms since the epoch).
    struct Stretch
    {
        qint64 begin = 0, end = 0;
        qint64 beginMs = 0, endMs = 0;
    };

    int length = 0;          // index into the lengths, clamped
    qint64 frozenEnd = -1;   // paused: the history's end when the pause began
    bool cursors = false;
    double firstS = 0, secondS = 0;  // the cursors (seconds since the epoch, as the plot's axis)

    [[nodiscard]] Stretch stretch(const ReportHistory &history) const;
    // The reports the figures and pages cover, [begin, end).
    void covered(const ReportHistory &history, qint64 &begin, qint64 &end) const;
    // Cursors before the stretch shown stand for reports no longer shown.
    [[nodiscard]] bool cursorsBefore(const Stretch &s) const;

    bool operator==(const SpanChoice &o) const
    {
        return length == o.length && frozenEnd == o.frozenEnd && cursors == o.cursors
            && (!cursors || (firstS == o.firstS && secondS == o.secondS));
    }
    bool operator!=(const SpanChoice &o) const { return !(*this == o); }
};
