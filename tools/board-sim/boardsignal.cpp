// SPDX-License-Identifier: GPL-3.0-or-later
#include "boardsignal.h"

#include "commframe.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double NominalCounts = 370000000.0;  // 3.7 V in counts of 10 nV
constexpr double CountsPerMicrovolt = 100.0;
constexpr double MaxCounts = 4294967295.0;
constexpr double LowestCornerHz = 1e-4;
// Corners half a decade apart keep the sum within 0.12 dB of a straight 1/f
// line between them; a decade apart it would ripple by 0.5 dB.
constexpr double CornerStep = 3.16227766016837933;  // √10

} // namespace

BoardSignal::BoardSignal(const Levels &levels, quint32 seed)
    : m_levels(levels)
    // A stream of its own, apart from the one for cuts, junk and flipped bits,
    // so that a seed reads the same values whatever faults are asked for.
    , m_random(std::array<quint32, 2>{seed, 0x51a7u}.data(), 2)
{
    // Equal variance per corner over corners spread evenly in log frequency
    // sums to a one-sided density of variance / ln(step) / f.
    const double flickerPower = m_levels.flickerMicrovolts * m_levels.flickerMicrovolts;
    m_poleRms = std::sqrt(flickerPower * std::log(CornerStep));
    // Started in their steady state: a board switched on long ago, not a
    // wander that first has to build up over hours.
    for (double &pole : m_pole)
        pole = m_poleRms * gaussian();
}

std::optional<double> BoardSignal::sampleRateOfCode(uint8_t sampleRateCode)
{
    const int rate = orvale::samplesPerSecond(sampleRateCode);
    return rate > 0 ? std::optional<double>(rate) : std::nullopt;
}

double BoardSignal::filterFactor(uint8_t filterCode)
{
    // No filtering, average of 4, median of 5, dithered average of 2, Kalman.
    static constexpr double Factors[] = {1.0, 0.5, 0.56, 0.7, 0.35};
    return filterCode < std::size(Factors) ? Factors[filterCode] : 1.0;
}

double BoardSignal::whiteRms(double sampleRate, uint8_t filterCode) const
{
    // A converter's noise density is fixed; a faster rate lets more of it through.
    return m_levels.whiteMicrovolts * std::sqrt(sampleRate / 10.0) * filterFactor(filterCode);
}

void BoardSignal::setSampleRate(double sampleRate)
{
    if (sampleRate == m_sampleRate)
        return;
    m_sampleRate = sampleRate;
    double corner = LowestCornerHz;
    for (int k = 0; k < Poles; ++k, corner *= CornerStep) {
        // The exact step of a first-order low-pass over one sample: right at
        // any rate, and across a change of rate.
        m_keep[k] = std::exp(-2.0 * Pi * corner / sampleRate);
        m_innovation[k] = m_poleRms * std::sqrt(1.0 - m_keep[k] * m_keep[k]);
    }
}

uint32_t BoardSignal::next(uint8_t sampleRateCode, uint8_t filterCode)
{
    m_knownRate = sampleRateOfCode(sampleRateCode).value_or(m_knownRate);
    setSampleRate(m_knownRate);

    m_dropMicrovolts += m_levels.driftMicrovoltsPerMinute / 60.0 / m_sampleRate;
    double microvolts = -m_dropMicrovolts;
    if (m_levels.whiteMicrovolts > 0.0)
        microvolts += whiteRms(m_sampleRate, filterCode) * gaussian();
    if (m_levels.flickerMicrovolts > 0.0) {
        for (int k = 0; k < Poles; ++k) {
            m_pole[k] = m_keep[k] * m_pole[k] + m_innovation[k] * gaussian();
            microvolts += m_pole[k];
        }
    }
    const double counts = std::clamp(NominalCounts + microvolts * CountsPerMicrovolt, 0.0, MaxCounts);
    return static_cast<uint32_t>(std::llround(counts));
}

double BoardSignal::gaussian()
{
    // Box-Muller, both values used; generateDouble() is in [0, 1), so 1 - u
    // is never zero.
    if (m_hasSpare) {
        m_hasSpare = false;
        return m_spareGaussian;
    }
    const double radius = std::sqrt(-2.0 * std::log(1.0 - m_random.generateDouble()));
    const double angle = 2.0 * Pi * m_random.generateDouble();
    m_spareGaussian = radius * std::sin(angle);
    m_hasSpare = true;
    return radius * std::cos(angle);
}
