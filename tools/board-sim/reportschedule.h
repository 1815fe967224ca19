// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// When reports are due at a given rate. Reports are counted from an anchor
// time rather than timed one after another, so timer lateness does not add
// up: a late tick finds several reports due and the average rate holds.
class ReportSchedule
{
public:
    // The first report is due at `nowNs`.
    void start(double ratePerSecond, qint64 nowNs);

    // The next report comes one new period after the last one taken (or now,
    // if that is already past); the ones after it follow the new rate.
    void changeRate(double ratePerSecond, qint64 nowNs);

    // How many reports have fallen due since the last call. After a long
    // stall (more than a second's worth due) the backlog is dropped and the
    // schedule starts again from now, instead of flooding the line.
    [[nodiscard]] qint64 takeDue(qint64 nowNs);

    // Nanoseconds from `nowNs` until the next report is due (0 if it is due).
    [[nodiscard]] qint64 nsUntilNext(qint64 nowNs) const;

    double rate() const { return m_rate; }

private:
    qint64 dueTimeNs(qint64 index) const;

    double m_rate = 1.0;
    qint64 m_anchorNs = 0;
    qint64 m_taken = 0;  // reports taken since the anchor
};
