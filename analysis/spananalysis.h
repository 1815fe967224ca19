// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QVector>
#include <QtGlobal>

#include <cstdint>
#include <vector>

class ReportHistory;

// The analyses the trend window's pages show of one span of the history:
// a histogram of the values, the noise spectral density and the overlapping
// Allan deviation. They work on a copy of the span (SpanData), taken on the
// thread that writes the history, so they can run on a worker thread while
// reports keep arriving.
namespace orvale::analysis {

// The board's own sample rate for a sample-rate code, 0 for a code outside
// the table.
[[nodiscard]] double sampleRateOfCode(uint8_t code);

// The reports of one span, copied out of the history.
struct SpanData
{
    std::vector<uint32_t> values;     // counts of 10 nV, oldest first
    qint64 newestRunBegin = 0;        // index into values where the newest run of one rate code begins
    uint8_t newestRunCode = 0;
    qint64 newestRunFirstMs = 0;      // arrival times of that run's first and last report
    qint64 newestRunLastMs = 0;
};
// Copies the reports [begin, end) of the history (O(n), about 4 bytes a report).
[[nodiscard]] SpanData copySpan(const ReportHistory &history, qint64 begin, qint64 end);
// The same into `span`, reusing the memory it holds: the copy of the whole
// history takes about a millisecond, but fresh memory for it costs tens of
// milliseconds of page faults on a loaded machine, on the thread that copies.
void copySpan(const ReportHistory &history, qint64 begin, qint64 end, SpanData &span);

// Counts of the span's values per bin. A value's unit ("count") is 10 nV;
// every bin is a whole number of counts wide, so no bin is empty by aliasing.
struct Histogram
{
    qint64 lowCounts = 0;    // low edge of the first bin
    qint64 binWidthCounts = 1;
    // Bin i holds [low + i*w, low + (i+1)*w); the last also its high edge,
    // though the span's maximum always falls strictly inside the last bin
    // (range/w + 1 bins), so every bin covers exactly w codes.
    QVector<qint64> counts;
    double meanVolts = 0;
    double rmsVolts = 0;     // population standard deviation
    qint64 total = 0;
};
[[nodiscard]] Histogram histogram(const SpanData &span, int maxBins = 100);

// Where the sample rate of the spectrum and the Allan deviation came from,
// and which of the span's reports they use.
struct RateChoice
{
    double sampleRate = 0;       // Sa/s
    bool fromCode = true;        // false: the code was outside the table, the rate was measured from arrival times
    bool mixedRates = false;     // the span held more than one rate: only its newest run is used
    qint64 begin = 0, end = 0;   // indices into SpanData::values of the reports analysed
};
[[nodiscard]] RateChoice chooseRate(const SpanData &span);

// Why an analysis has nothing to show, as a code and what it lacks; the
// front end says it in its own words.
struct AnalysisProblem
{
    enum Code { None, TooFewReports, NoSampleRate };
    Code code = None;
    qint64 reportsNeeded = 0;  // TooFewReports: the fewest reports the analysis works on

    bool isNone() const { return code == None; }
};

// One-sided noise spectral density by Welch's method (Hann window, half
// overlap, each segment's mean removed), in µV/√Hz, over the newest run of
// one rate: white noise of rms σ at fs reads σ·√(2/fs) at every frequency,
// fs/2 included. Segments of the largest power of two that gives at least 8
// of them, 64 to 65,536 reports.
struct Spectrum
{
    RateChoice rate;
    int segmentLength = 0;
    int segments = 0;
    QVector<double> frequencyHz;    // increasing, from fs/L up to fs/2 (no DC: the means are removed)
    QVector<double> densityUvPerSqrtHz;
    AnalysisProblem problem;        // why there is no spectrum (too few reports, no rate)
};
inline constexpr qint64 MinSpectrumReports = 128;
[[nodiscard]] Spectrum noiseSpectrum(const SpanData &span);

// Overlapping Allan deviation for τ = m/fs, m = 1, 2, 4, … while m ≤ n/4,
// over the reports of RateChoice's span (the newest run of one rate).
struct AllanDeviation
{
    RateChoice rate;
    QVector<double> tauSeconds;
    QVector<double> adevMicrovolts;
    QVector<qint64> terms;  // number of differences averaged at each τ
    AnalysisProblem problem;  // why there is nothing to show
};
inline constexpr qint64 MinAllanReports = 4;
[[nodiscard]] AllanDeviation allanDeviation(const SpanData &span);

// Resolution in bits of a span with the given noise: log2(fullScale / noise),
// NaN when the noise is zero or not finite.
[[nodiscard]] double resolutionBits(double fullScaleVolts, double noiseMicrovolts);

} // namespace orvale::analysis
