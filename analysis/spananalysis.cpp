// SPDX-License-Identifier: GPL-3.0-or-later
#include "spananalysis.h"

#include "commframe.h"
#include "reporthistory.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>

namespace orvale::analysis {

namespace {

constexpr double MicrovoltsPerCount = 0.01;
constexpr double Pi = 3.14159265358979323846;

// FFTW's planner is not thread-safe and planning costs more than a
// transform, so each segment length is planned once, under a lock, and the
// plan executed on every thread with its own buffers (fftw_execute_dft_r2c
// is thread-safe). FFTW_ESTIMATE: measuring would take longer than a whole
// spectrum of the full history. The plans live as long as the process: the
// table is never destroyed, so a worker still running at exit finds them.
fftw_plan realPlan(int length)
{
    static std::mutex mutex;
    static auto *const plans = new std::map<int, fftw_plan>;
    const std::lock_guard<std::mutex> lock(mutex);
    auto found = plans->find(length);
    if (found != plans->end())
        return found->second;
    // Buffers from fftw_alloc_* have the alignment the plan is made for, the
    // same as the ones it will run on.
    double *in = fftw_alloc_real(size_t(length));
    fftw_complex *out = fftw_alloc_complex(size_t(length / 2 + 1));
    const fftw_plan plan = fftw_plan_dft_r2c_1d(length, in, out, FFTW_ESTIMATE);
    fftw_free(in);
    fftw_free(out);
    plans->emplace(length, plan);
    return plan;
}

struct FftwFree
{
    void operator()(void *p) const { fftw_free(p); }
};

} // namespace

double sampleRateOfCode(uint8_t code)
{
    return orvale::samplesPerSecond(code);
}

SpanData copySpan(const ReportHistory &history, qint64 begin, qint64 end)
{
    SpanData span;
    copySpan(history, begin, end, span);
    return span;
}

void copySpan(const ReportHistory &history, qint64 begin, qint64 end, SpanData &span)
{
    std::vector<uint32_t> values = std::move(span.values);
    span = SpanData();
    span.values = std::move(values);
    span.values.clear();  // keeps its capacity
    begin = std::max(begin, history.firstIndex());
    end = std::min(end, history.endIndex());
    if (begin >= end)
        return;
    span.values.resize(size_t(end - begin));
    history.copyValues(begin, end, span.values.data());
    const qint64 runBegin = std::max(begin, history.rateRunBegin(end - 1));
    span.newestRunBegin = runBegin - begin;
    span.newestRunCode = history.rateCodeAt(end - 1);
    span.newestRunFirstMs = history.timeAt(runBegin);
    span.newestRunLastMs = history.timeAt(end - 1);
}

Histogram histogram(const SpanData &span, int maxBins)
{
    Histogram h;
    const std::vector<uint32_t> &values = span.values;
    if (values.empty())
        return h;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const qint64 low = *lo;
    const qint64 range = qint64(*hi) - low;
    // Bins of w whole counts from the minimum: range/w + 1 of them always
    // hold the maximum strictly inside the last, so every bin covers exactly
    // w codes, and w = ceil((range + 1) / maxBins) keeps them to maxBins.
    maxBins = std::max(1, maxBins);
    const qint64 width = std::max<qint64>(1, (range + maxBins) / maxBins);
    const qint64 bins = range / width + 1;
    h.lowCounts = low;
    h.binWidthCounts = width;
    h.counts.fill(0, int(bins));
    qint64 *counts = h.counts.data();
    if (width == 1) {
        for (const uint32_t v : values)
            ++counts[v - low];
    } else {
        for (const uint32_t v : values)
            ++counts[(v - low) / width];
    }

    // Population mean and σ, two passes about the minimum so nothing of a few
    // counts of noise on 4e8 counts is lost.
    const double n = double(values.size());
    double sum = 0;
    for (const uint32_t v : values)
        sum += double(v - low);
    const double mean = sum / n;
    double squares = 0;
    for (const uint32_t v : values) {
        const double d = double(v - low) - mean;
        squares += d * d;
    }
    h.meanVolts = (double(low) + mean) * MicrovoltsPerCount * 1e-6;
    h.rmsVolts = std::sqrt(squares / n) * MicrovoltsPerCount * 1e-6;
    h.total = qint64(values.size());
    return h;
}

RateChoice chooseRate(const SpanData &span)
{
    RateChoice c;
    c.begin = span.newestRunBegin;
    c.end = qint64(span.values.size());
    c.mixedRates = span.newestRunBegin > 0;
    c.sampleRate = sampleRateOfCode(span.newestRunCode);
    if (c.sampleRate > 0 || c.end <= c.begin)
        return c;
    // A code this tool does not know: the rate the reports arrived at, the
    // best there is, though it carries the line's and the machine's jitter.
    c.fromCode = false;
    const qint64 spanMs = span.newestRunLastMs - span.newestRunFirstMs;
    if (c.end - c.begin > 1 && spanMs > 0)
        c.sampleRate = double(c.end - c.begin - 1) * 1000.0 / double(spanMs);
    return c;
}

Spectrum noiseSpectrum(const SpanData &span)
{
    Spectrum s;
    s.rate = chooseRate(span);
    const qint64 n = s.rate.end - s.rate.begin;
    const double fs = s.rate.sampleRate;
    if (n < MinSpectrumReports) {
        s.problem = {AnalysisProblem::TooFewReports, MinSpectrumReports};
        return s;
    }
    if (!(fs > 0)) {
        s.problem = {AnalysisProblem::NoSampleRate, 0};
        return s;
    }

    // The largest power of two that still gives 8 half-overlapping segments
    // (n >= 4.5 L): more segments average the estimate down, longer ones
    // reach lower frequencies.
    int length = 65536;
    while (length > 64 && 9 * qint64(length) > 2 * n)
        length /= 2;
    const int hop = length / 2;
    const qint64 segments = (n - length) / hop + 1;
    s.segmentLength = length;
    s.segments = int(segments);

    // The periodic Hann window (as spectral tools use), its power sum(w^2)
    // normalising the density: the window's coherent gain (sum w)^2 / L
    // would read white noise √1.5 too high.
    std::vector<double> window(static_cast<size_t>(length));
    double windowPower = 0;
    for (int k = 0; k < length; ++k) {
        window[size_t(k)] = 0.5 - 0.5 * std::cos(2.0 * Pi * k / length);
        windowPower += window[size_t(k)] * window[size_t(k)];
    }

    const fftw_plan plan = realPlan(length);
    const std::unique_ptr<double[], FftwFree> in(fftw_alloc_real(size_t(length)));
    const std::unique_ptr<fftw_complex[], FftwFree> out(fftw_alloc_complex(size_t(length / 2 + 1)));
    std::vector<double> power(size_t(hop + 1), 0.0);
    const uint32_t *values = span.values.data() + s.rate.begin;
    for (qint64 seg = 0; seg < segments; ++seg) {
        const uint32_t *x = values + seg * hop;
        // The mean removed in whole counts first, exactly, about the
        // segment's first value.
        const uint32_t origin = x[0];
        int64_t sum = 0;
        for (int k = 0; k < length; ++k)
            sum += int64_t(x[k]) - origin;
        const double mean = double(sum) / length;
        for (int k = 0; k < length; ++k)
            in[size_t(k)] = (double(int64_t(x[k]) - origin) - mean) * window[size_t(k)];
        fftw_execute_dft_r2c(plan, in.get(), out.get());
        for (int k = 1; k <= hop; ++k)
            power[size_t(k)] += out[k][0] * out[k][0] + out[k][1] * out[k][1];
    }

    // One-sided: every bin's power doubled, fs/2's too, so white noise reads
    // flat to the end of the plot (a sum over the bins would count fs/2
    // twice, a density plot does not sum). DC is left out: the mean is
    // removed and a logarithmic axis cannot show 0 Hz.
    const double scale = 2.0 / (double(segments) * fs * windowPower) * MicrovoltsPerCount * MicrovoltsPerCount;
    s.frequencyHz.resize(hop);
    s.densityUvPerSqrtHz.resize(hop);
    for (int k = 1; k <= hop; ++k) {
        s.frequencyHz[k - 1] = k * fs / length;
        s.densityUvPerSqrtHz[k - 1] = std::sqrt(power[size_t(k)] * scale);
    }
    return s;
}

AllanDeviation allanDeviation(const SpanData &span)
{
    AllanDeviation a;
    a.rate = chooseRate(span);
    const qint64 n = a.rate.end - a.rate.begin;
    const double fs = a.rate.sampleRate;
    if (n < MinAllanReports) {
        a.problem = {AnalysisProblem::TooFewReports, MinAllanReports};
        return a;
    }
    if (!(fs > 0)) {
        a.problem = {AnalysisProblem::NoSampleRate, 0};
        return a;
    }

    // Sums of m values (exact integers, below 2^52 for m <= n/4), slid
    // along the span: each step adds the value that enters and takes the one
    // that leaves, so a τ costs one pass whatever m. It is the difference of
    // two prefix sums, without an n-long table of them to fill first.
    const uint32_t *x = span.values.data() + a.rate.begin;
    for (qint64 m = 1; 4 * m <= n; m *= 2) {
        // Overlapping: every start i, not only multiples of m, so the
        // estimate at long τ rests on n - 2m + 1 differences, not n/m.
        const qint64 terms = n - 2 * m + 1;
        int64_t first = 0, second = 0;  // of x[i, i+m) and x[i+m, i+2m)
        for (qint64 k = 0; k < m; ++k) {
            first += x[k];
            second += x[k + m];
        }
        double squares = 0;
        for (qint64 i = 0;; ++i) {
            const double d = double(second - first);
            squares += d * d;
            if (i + 1 == terms)
                break;
            first += int64_t(x[i + m]) - x[i];
            second += int64_t(x[i + 2 * m]) - x[i + m];
        }
        const double variance = squares / (2.0 * double(m) * double(m) * double(terms));
        a.tauSeconds.append(double(m) / fs);
        a.adevMicrovolts.append(std::sqrt(variance) * MicrovoltsPerCount);
        a.terms.append(terms);
    }
    return a;
}

double resolutionBits(double fullScaleVolts, double noiseMicrovolts)
{
    if (!(noiseMicrovolts > 0) || !std::isfinite(noiseMicrovolts))
        return std::nan("");
    return std::log2(fullScaleVolts * 1e6 / noiseMicrovolts);
}

} // namespace orvale::analysis
