// SPDX-License-Identifier: GPL-3.0-or-later
#include "spananalysis.h"

#include "reporthistory.h"

#include <cmath>

// Placeholders until the analyses land: empty results of the right shape.
namespace orvale::analysis {

double sampleRateOfCode(uint8_t code)
{
    static constexpr double Rates[] = {4, 10, 62, 123};
    return code < std::size(Rates) ? Rates[code] : 0.0;
}

Histogram histogram(const ReportHistory &, qint64, qint64, int)
{
    return {};
}

RateChoice chooseRate(const ReportHistory &, qint64 begin, qint64 end)
{
    RateChoice c;
    c.begin = begin;
    c.end = end;
    return c;
}

Spectrum noiseSpectrum(const ReportHistory &, qint64, qint64)
{
    return {};
}

AllanDeviation allanDeviation(const ReportHistory &, qint64, qint64)
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
