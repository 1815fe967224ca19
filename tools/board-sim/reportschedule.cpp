// SPDX-License-Identifier: GPL-3.0-or-later
#include "reportschedule.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double NsPerSecond = 1e9;
}

void ReportSchedule::start(double ratePerSecond, qint64 nowNs)
{
    m_rate = ratePerSecond;
    m_anchorNs = nowNs;
    m_taken = 0;
}

void ReportSchedule::changeRate(double ratePerSecond, qint64 nowNs)
{
    const qint64 lastNs = m_taken > 0 ? dueTimeNs(m_taken - 1) : nowNs;
    m_rate = ratePerSecond;
    m_anchorNs = std::max(nowNs, lastNs + static_cast<qint64>(NsPerSecond / m_rate));
    m_taken = 0;
}

qint64 ReportSchedule::takeDue(qint64 nowNs)
{
    if (nowNs < m_anchorNs)
        return 0;
    // Report i is due at dueTimeNs(i). Estimate how many are due in floating
    // point, then settle it against dueTimeNs itself, so that a report is due
    // exactly when nsUntilNext says so and a tick is never wasted on rounding.
    qint64 last = static_cast<qint64>(std::floor((nowNs - m_anchorNs) / NsPerSecond * m_rate));
    while (dueTimeNs(last + 1) <= nowNs)
        ++last;
    while (last >= 0 && dueTimeNs(last) > nowNs)
        --last;
    const qint64 due = last + 1;
    qint64 fresh = due - m_taken;
    const qint64 oneSecond = std::max<qint64>(1, static_cast<qint64>(std::ceil(m_rate)));
    if (fresh > oneSecond) {
        start(m_rate, nowNs);
        m_taken = 1;
        return 1;
    }
    m_taken = std::max(m_taken, due);
    return std::max<qint64>(0, fresh);
}

qint64 ReportSchedule::nsUntilNext(qint64 nowNs) const
{
    return std::max<qint64>(0, dueTimeNs(m_taken) - nowNs);
}

qint64 ReportSchedule::dueTimeNs(qint64 index) const
{
    return m_anchorNs + static_cast<qint64>(std::ceil(index * NsPerSecond / m_rate));
}
