// SPDX-License-Identifier: GPL-3.0-or-later
#include "reporthistory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

struct ReportHistory::Block
{
    qint64 times[BlockSize];
    uint32_t values[BlockSize];
    Sums before;  // of every report before the block's first
    uint32_t lo = UINT32_MAX;
    uint32_t hi = 0;
};

void ReportHistory::Sums::add(uint64_t t, uint32_t v)
{
    values += v;
    squares += u128(uint64_t(v) * v);
    times += t;
    timeSquares += u128(t) * t;
    timeValues += u128(t) * v;
}

ReportHistory::ReportHistory(qint64 capacity) : m_capacity(std::max<qint64>(1, capacity)) {}

ReportHistory::~ReportHistory() = default;

void ReportHistory::append(qint64 utcMs, uint32_t value, uint8_t rateCode)
{
    if (m_rateRuns.empty() || m_rateRuns.back().second != rateCode)
        m_rateRuns.emplace_back(m_end, rateCode);
    if (m_end % BlockSize == 0) {
        auto block = std::make_unique<Block>();
        block->before = m_total;
        if (m_blocks.empty())
            m_firstBlock = m_end / BlockSize;
        m_blocks.push_back(std::move(block));
    }
    if (m_end == 0)
        m_originMs = utcMs;
    if (m_end > 0 && utcMs < m_newestMs)
        utcMs = m_newestMs;
    m_newestMs = utcMs;

    Block &block = *m_blocks.back();
    const int slot = int(m_end % BlockSize);
    block.times[slot] = utcMs;
    block.values[slot] = value;
    block.lo = std::min(block.lo, value);
    block.hi = std::max(block.hi, value);
    m_total.add(uint64_t(utcMs - m_originMs), value);
    ++m_end;

    if (m_end - m_first > m_capacity)
        m_first = m_end - m_capacity;
    // A block goes once none of its reports is kept.
    while ((m_firstBlock + 1) * BlockSize <= m_first) {
        m_blocks.pop_front();
        ++m_firstBlock;
    }
    while (m_rateRuns.size() > 1 && m_rateRuns[1].first <= m_first)
        m_rateRuns.pop_front();
}

const ReportHistory::Block &ReportHistory::blockOf(qint64 index) const
{
    return *m_blocks[size_t(index / BlockSize - m_firstBlock)];
}

qint64 ReportHistory::timeAt(qint64 index) const
{
    return blockOf(index).times[index % BlockSize];
}

uint32_t ReportHistory::valueAt(qint64 index) const
{
    return blockOf(index).values[index % BlockSize];
}

// The run holding `index`: the last one that begins at or before it.
static auto runOf(const std::deque<std::pair<qint64, uint8_t>> &runs, qint64 index)
{
    auto after = std::upper_bound(runs.begin(), runs.end(), index,
                                  [](qint64 i, const std::pair<qint64, uint8_t> &run) { return i < run.first; });
    return after == runs.begin() ? after : after - 1;
}

uint8_t ReportHistory::rateCodeAt(qint64 index) const
{
    return runOf(m_rateRuns, index)->second;
}

qint64 ReportHistory::rateRunBegin(qint64 index) const
{
    return std::max(m_first, runOf(m_rateRuns, index)->first);
}

qint64 ReportHistory::lowerBound(qint64 utcMs) const
{
    qint64 lo = m_first, hi = m_end;
    while (lo < hi) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (timeAt(mid) < utcMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void ReportHistory::copyValues(qint64 begin, qint64 end, uint32_t *out) const
{
    begin = std::max(begin, m_first);
    end = std::min(end, m_end);
    while (begin < end) {
        const qint64 stop = std::min(end, (begin / BlockSize + 1) * BlockSize);
        std::memcpy(out, blockOf(begin).values + begin % BlockSize, size_t(stop - begin) * sizeof(uint32_t));
        out += stop - begin;
        begin = stop;
    }
}

ReportHistory::Sums ReportHistory::prefix(qint64 index) const
{
    if (index == m_end)
        return m_total;
    const Block &block = blockOf(index);
    Sums sums = block.before;
    for (int i = 0, n = int(index % BlockSize); i < n; ++i)
        sums.add(uint64_t(block.times[i] - m_originMs), block.values[i]);
    return sums;
}

void ReportHistory::minMax(qint64 begin, qint64 end, uint32_t &lo, uint32_t &hi) const
{
    lo = UINT32_MAX;
    hi = 0;
    qint64 i = begin;
    while (i < end) {
        const Block &block = blockOf(i);
        const qint64 blockEnd = (i / BlockSize + 1) * BlockSize;
        if (i % BlockSize == 0 && blockEnd <= end) {
            lo = std::min(lo, block.lo);
            hi = std::max(hi, block.hi);
            i = blockEnd;
            continue;
        }
        for (const qint64 stop = std::min(end, blockEnd); i < stop; ++i) {
            const uint32_t v = block.values[i % BlockSize];
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
}

SpanStatistics ReportHistory::statistics(qint64 begin, qint64 end) const
{
    SpanStatistics s;
    begin = std::max(begin, m_first);
    end = std::min(end, m_end);
    if (begin >= end)
        return s;

    const Sums before = prefix(begin);
    const Sums upTo = prefix(end);
    const uint64_t sum = upTo.values - before.values;
    const u128 squares = upTo.squares - before.squares;
    const qint64 n = end - begin;

    s.count = n;
    s.mean = (double(sum) / double(n)) * 1e-8;
    // n * sum(x^2) - (sum x)^2 is n^2 times the variance, exactly, and below
    // 2^108 for any kept span: no cancellation of nearly equal doubles.
    const u128 scaledVariance = u128(uint64_t(n)) * squares - u128(sum) * sum;
    s.rmsMicrovolts = std::sqrt(double(scaledVariance)) / double(n) * 0.01;
    minMax(begin, end, s.minCounts, s.maxCounts);
    s.peakToPeakMicrovolts = double(s.maxCounts - s.minCounts) * 0.01;
    const qint64 spanMs = timeAt(end - 1) - timeAt(begin);
    if (n > 1 && spanMs > 0)
        s.ratePerSecond = double(n - 1) * 1000.0 / double(spanMs);

    // The slope's numerator and denominator, n^2 times the covariance of time
    // and value and the variance of time, exactly: the products wrap modulo
    // 2^128 but the results do not (below 2^111 for a kept span reaching
    // over years), so they hold exactly for any origin of the times.
    const uint64_t times = upTo.times - before.times;
    const u128 covariance = u128(uint64_t(n)) * (upTo.timeValues - before.timeValues) - u128(times) * sum;
    const u128 timeVariance = u128(uint64_t(n)) * (upTo.timeSquares - before.timeSquares) - u128(times) * times;
    if (timeVariance != 0) {
        // counts per ms to µV per minute: 0.01 µV a count, 60000 ms a minute
        s.driftMicrovoltsPerMinute =
            double(static_cast<__int128>(covariance)) / double(static_cast<__int128>(timeVariance)) * 600.0;
    }
    return s;
}

void ReportHistory::envelope(qint64 begin, qint64 end, int maxPoints, QVector<double> &keys,
                             QVector<double> &values) const
{
    keys.clear();
    values.clear();
    begin = std::max(begin, m_first);
    end = std::min(end, m_end);
    if (begin >= end)
        return;
    const qint64 n = end - begin;
    if (n <= maxPoints) {
        keys.reserve(int(n));
        values.reserve(int(n));
        for (qint64 i = begin; i < end; ++i) {
            keys.append(double(timeAt(i)) / 1000.0);
            values.append(double(valueAt(i)) * 1e-8);
        }
        return;
    }
    // Runs of whole blocks once they are that long, so each costs one look
    // per block rather than one per report.
    const qint64 runs = std::max(1, maxPoints / 2);
    qint64 run = (n + runs - 1) / runs;
    if (run >= BlockSize)
        run = (run + BlockSize - 1) / BlockSize * BlockSize;
    keys.reserve(int(2 * (n / run + 2)));
    values.reserve(keys.capacity());
    for (qint64 i = begin; i < end;) {
        const qint64 stop = std::min(end, (i / run + 1) * run);
        uint32_t lo = 0, hi = 0;
        minMax(i, stop, lo, hi);
        const double key = double(timeAt(i)) / 1000.0;
        keys.append(key);
        values.append(double(lo) * 1e-8);
        keys.append(key);
        values.append(double(hi) * 1e-8);
        i = stop;
    }
}

qint64 ReportHistory::bytesUsed() const
{
    return qint64(m_blocks.size() * sizeof(Block) + m_rateRuns.size() * sizeof(m_rateRuns.front()));
}
