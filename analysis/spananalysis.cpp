// SPDX-License-Identifier: GPL-3.0-or-later
#include "spananalysis.h"

#include "reporthistory.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// Placeholders until the analyses land: empty results of the right shape.
namespace orvale::analysis {

double sampleRateOfCode(uint8_t code)
{
    static constexpr double Rates[] = {4, 10, 62, 123};
    return code < std::size(Rates) ? Rates[code] : 0.0;
}

SpanData copySpan(const ReportHistory &history, qint64 begin, qint64 end)
{
    SpanData span;
    begin = std::max(begin, history.firstIndex());
    end = std::min(end, history.endIndex());
    if (begin >= end)
        return span;
    span.values.reserve(size_t(end - begin));
    for (qint64 i = begin; i < end; ++i)
        span.values.push_back(history.valueAt(i));
    const qint64 runBegin = std::max(begin, history.rateRunBegin(end - 1));
    span.newestRunBegin = runBegin - begin;
    span.newestRunCode = history.rateCodeAt(end - 1);
    span.newestRunFirstMs = history.timeAt(runBegin);
    span.newestRunLastMs = history.timeAt(end - 1);
    return span;
}

Histogram histogram(const SpanData &, int)
{
    return {};
}

RateChoice chooseRate(const SpanData &span)
{
    RateChoice c;
    c.begin = span.newestRunBegin;
    c.end = qint64(span.values.size());
    c.mixedRates = span.newestRunBegin > 0;
    c.sampleRate = sampleRateOfCode(span.newestRunCode);
    return c;
}

Spectrum noiseSpectrum(const SpanData &)
{
    return {};
}

AllanDeviation allanDeviation(const SpanData &)
{
    return {};
}

double resolutionBits(double fullScaleVolts, double noiseMicrovolts)
{
    if (!(noiseMicrovolts > 0) || !std::isfinite(noiseMicrovolts))
        return std::nan("");
    return std::log2(fullScaleVolts * 1e6 / noiseMicrovolts);
}

} // namespace orvale::analysis
