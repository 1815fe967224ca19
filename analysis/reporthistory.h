// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>
#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <utility>

// Statistics of the reports in one span of the history. Values in volts,
// noise figures in microvolts.
struct SpanStatistics
{
    qint64 count = 0;
    double ratePerSecond = 0;
    double mean = 0;
    uint32_t minCounts = 0;
    uint32_t maxCounts = 0;
    double rmsMicrovolts = 0;  // population standard deviation
    double peakToPeakMicrovolts = 0;
    // Least-squares slope of the value against arrival time, µV per minute;
    // NaN with fewer than two reports or no time between them.
    double driftMicrovoltsPerMinute = std::numeric_limits<double>::quiet_NaN();
};

// The newest reports' values with their arrival times, bounded in count, and
// statistics over any span of them in time independent of the span's length.
//
// Reports are numbered from 0 in arrival order for the life of the history;
// the oldest kept is firstIndex(), the next to come endIndex(). They are kept
// in blocks of BlockSize. Each block carries the exact sums of every report
// before it (integers, so nothing of a few hundred counts of noise on 4e8
// counts is lost): of the values and their squares for the mean and the
// noise, and of the times, their squares and time times value for the drift's
// least-squares slope; and its own minimum and maximum. A span's statistics
// then cost two partial blocks plus one look at each whole block for the
// extremes.
class ReportHistory
{
public:
    static constexpr qint64 DefaultCapacity = 2592000;  // one hour at 720/s
    static constexpr int BlockSize = 256;

    explicit ReportHistory(qint64 capacity = DefaultCapacity);
    ~ReportHistory();
    ReportHistory(const ReportHistory &) = delete;
    ReportHistory &operator=(const ReportHistory &) = delete;

    // A time before the newest one is taken as the newest one, so the times
    // stay ordered when the system clock is set back.
    // `rateCode` is the report's sample-rate code, kept as runs of equal
    // codes so it costs next to nothing a report.
    void append(qint64 utcMs, uint32_t value, uint8_t rateCode = 0);

    qint64 capacity() const { return m_capacity; }
    qint64 size() const { return m_end - m_first; }
    qint64 firstIndex() const { return m_first; }
    qint64 endIndex() const { return m_end; }
    qint64 timeAt(qint64 index) const;
    uint32_t valueAt(qint64 index) const;
    // Copies the values of the reports [begin, end) of the kept ones to `out`,
    // a block at a time (an analysis of the whole history copies 2.6 million).
    void copyValues(qint64 begin, qint64 end, uint32_t *out) const;
    uint8_t rateCodeAt(qint64 index) const;
    // First kept report of the run of equal rate codes that holds `index`.
    qint64 rateRunBegin(qint64 index) const;
    // First kept report that arrived at or after `utcMs`.
    qint64 lowerBound(qint64 utcMs) const;

    // Over the reports [begin, end) of the kept ones.
    SpanStatistics statistics(qint64 begin, qint64 end) const;
    // At most about `maxPoints` (time in seconds since the epoch, volts)
    // points that trace [begin, end): every report while they fit, else the
    // minimum and maximum of each run of reports, so no peak is lost.
    void envelope(qint64 begin, qint64 end, int maxPoints, QVector<double> &keys, QVector<double> &values) const;

    // Heap bytes held for the reports.
    qint64 bytesUsed() const;

private:
    struct Block;
    using u128 = unsigned __int128;

    // Sums over every report before some index, modulo 2^64 and 2^128:
    // differences of two of them are exact for any kept span. Times are in
    // ms since the first report the history took.
    struct Sums
    {
        u128 squares = 0;
        u128 timeSquares = 0;
        u128 timeValues = 0;
        uint64_t values = 0;
        uint64_t times = 0;
        void add(uint64_t t, uint32_t v);
    };

    const Block &blockOf(qint64 index) const;
    Sums prefix(qint64 index) const;
    void minMax(qint64 begin, qint64 end, uint32_t &lo, uint32_t &hi) const;

    qint64 m_capacity;
    qint64 m_first = 0;
    qint64 m_end = 0;
    qint64 m_firstBlock = 0;  // number of m_blocks.front()
    std::deque<std::unique_ptr<Block>> m_blocks;
    Sums m_total;
    qint64 m_originMs = 0;  // time of the first report taken
    qint64 m_newestMs = 0;
    // (first report, code) of each run of equal rate codes, oldest first;
    // the first run may begin before m_first.
    std::deque<std::pair<qint64, uint8_t>> m_rateRuns;
};
