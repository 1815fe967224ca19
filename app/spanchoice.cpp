// SPDX-License-Identifier: GPL-3.0-or-later
#include "spanchoice.h"

#include "reporthistory.h"

#include <algorithm>
#include <cmath>

namespace {

// Length of each span in milliseconds; 0 is the whole history.
constexpr qint64 LengthMs[SpanChoice::LengthCount] = {10 * 1000, 60 * 1000, 10 * 60 * 1000, 60 * 60 * 1000, 0};

} // namespace

SpanChoice::Stretch SpanChoice::stretch(const ReportHistory &history) const
{
    Stretch s;
    s.end = std::max(history.firstIndex(), frozenEnd >= 0 ? frozenEnd : history.endIndex());
    s.end = std::min(s.end, history.endIndex());
    s.begin = s.end;
    if (s.end > history.firstIndex()) {
        const qint64 spanMs = LengthMs[std::clamp(length, 0, LengthCount - 1)];
        s.endMs = history.timeAt(s.end - 1);
        s.begin = spanMs > 0 ? history.lowerBound(s.endMs - spanMs) : history.firstIndex();
        s.beginMs = spanMs > 0 ? s.endMs - spanMs : history.timeAt(s.begin);
    }
    return s;
}

void SpanChoice::covered(const ReportHistory &history, qint64 &begin, qint64 &end) const
{
    const Stretch s = stretch(history);
    begin = s.begin;
    end = s.end;
    if (!cursors || end == begin)
        return;
    // A report at t belongs when lo <= t <= hi, t in whole milliseconds.
    const double lo = std::min(firstS, secondS), hi = std::max(firstS, secondS);
    begin = std::max(begin, history.lowerBound(qint64(std::ceil(lo * 1000.0))));
    end = std::min(end, history.lowerBound(qint64(std::floor(hi * 1000.0)) + 1));
    end = std::max(begin, end);
}

bool SpanChoice::cursorsBefore(const Stretch &s) const
{
    return cursors && std::min(firstS, secondS) * 1000.0 < double(s.beginMs);
}
