// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <cstdint>

class ReportHistory;

// The analyses the trend window's pages show of one span of the history:
// a histogram of the values, the noise spectral density and the overlapping
// Allan deviation. Each reads the history's reports [begin, end) and holds
// no reference to it afterwards, so it can run on a worker thread while the
// history is not written (the caller's business).
namespace orvale::analysis {

// The board's own sample rate for a sample-rate code, 0 for a code outside
// the table.
[[nodiscard]] double sampleRateOfCode(uint8_t code);

// Counts of the span's values per bin. A value's unit ("count") is 10 nV;
// every bin is a whole number of counts wide, so no bin is empty by aliasing.
struct Histogram
{
    qint64 lowCounts = 0;    // low edge of the first bin
    qint64 binWidthCounts = 1;
    QVector<qint64> counts;  // bin i holds [low + i*w, low + (i+1)*w); the last also its high edge
    double meanVolts = 0;
    double rmsVolts = 0;     // population standard deviation
    qint64 total = 0;
};
[[nodiscard]] Histogram histogram(const ReportHistory &history, qint64 begin, qint64 end, int maxBins = 100);

// Where the span's sample rate came from, and what of the span was used.
struct RateChoice
{
    double sampleRate = 0;       // Sa/s
    bool fromCode = true;        // false: the code was outside the table, rate measured from arrival times
    bool mixedRates = false;     // the span held more than one rate: only its newest run is used
    qint64 begin = 0, end = 0;   // the reports analysed
};
// The newest run of one sample-rate code in [begin, end) and its rate.
[[nodiscard]] RateChoice chooseRate(const ReportHistory &history, qint64 begin, qint64 end);

// One-sided noise spectral density by Welch's method (Hann window, half
// overlap, each segment's mean removed), in µV/√Hz.
struct Spectrum
{
    RateChoice rate;
    int segmentLength = 0;
    int segments = 0;
    QVector<double> frequencyHz;    // increasing, from fs/L up to fs/2
    QVector<double> densityUvPerSqrtHz;
    QString problem;                // why there is no spectrum (too few reports), else empty
};
inline constexpr qint64 MinSpectrumReports = 128;
[[nodiscard]] Spectrum noiseSpectrum(const ReportHistory &history, qint64 begin, qint64 end);

// Overlapping Allan deviation for τ = m/fs, m = 1, 2, 4, … while m ≤ n/4.
struct AllanDeviation
{
    RateChoice rate;
    QVector<double> tauSeconds;
    QVector<double> adevMicrovolts;
    QVector<qint64> terms;  // number of differences averaged at each τ
    QString problem;
};
[[nodiscard]] AllanDeviation allanDeviation(const ReportHistory &history, qint64 begin, qint64 end);

// Resolution in bits of a span with the given noise: log2(fullScale / noise),
// NaN when the noise is zero or not finite.
[[nodiscard]] double resolutionBits(double fullScaleVolts, double noiseMicrovolts);

} // namespace orvale::analysis
