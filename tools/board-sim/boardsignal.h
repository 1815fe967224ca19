// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRandomGenerator>
#include <array>
#include <cstdint>
#include <optional>

// What the simulated board reads: a battery near 3.7 V that slowly
// discharges, seen through a 24-bit converter with white noise whose level
// follows the sample rate and the filter, and 1/f noise below about 1 Hz.
//
// One call is one sample of the converter, at the sample rate its code
// names, whenever the report is sent: the signal knows nothing of wall
// time, so a run paced by --rate or --burst reads the same values as one at
// the board's own rate, and a seed always gives the same readings.
class BoardSignal
{
public:
    struct Levels
    {
        double whiteMicrovolts = 5.0;      // rms at 10 Sa/s without filtering
        double flickerMicrovolts = 0.5;    // 1/f density at 1 Hz, µV/√Hz
        double driftMicrovoltsPerMinute = 3.0;  // fall of the voltage
    };

    BoardSignal(const Levels &levels, quint32 seed);

    // The next sample, in counts of 10 nV, rounded and held within 32 bits.
    [[nodiscard]] uint32_t next(uint8_t sampleRateCode, uint8_t filterCode);

    // Samples a second of a sample-rate code (the protocol's table); none for
    // a code outside it.
    [[nodiscard]] static std::optional<double> sampleRateOfCode(uint8_t sampleRateCode);
    // The factor by which a filter code scales the white noise (1 for codes
    // outside the table), and the white rms at a rate and filter, in µV.
    [[nodiscard]] static double filterFactor(uint8_t filterCode);
    [[nodiscard]] double whiteRms(double sampleRate, uint8_t filterCode) const;

private:
    // Corners of the low-pass filtered noises that sum to 1/f: half a decade
    // apart from 10^-4 Hz to 1 Hz.
    static constexpr int Poles = 9;

    double gaussian();
    void setSampleRate(double sampleRate);

    const Levels m_levels;
    QRandomGenerator m_random;
    double m_spareGaussian = 0.0;
    bool m_hasSpare = false;

    double m_poleRms = 0.0;     // steady-state rms of each filtered noise, µV
    double m_sampleRate = 0.0;  // the rate the pole coefficients are for
    double m_knownRate = 10.0;  // codes outside the table keep the last rate
    double m_dropMicrovolts = 0.0;
    std::array<double, Poles> m_pole = {};      // each filtered noise, µV
    std::array<double, Poles> m_keep = {};      // its decay over one sample
    std::array<double, Poles> m_innovation = {};  // its new noise per sample, µV rms
};
