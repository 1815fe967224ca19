// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <sys/types.h>

// A separate process that plays the board on the master end of a
// pseudo-terminal: it writes reports paced as the line would deliver them,
// each report's value carrying the time its last byte was due, in
// microseconds since the shared time base (or, when asked, what a board
// reads, for figures that depend on which digits change).
struct FeederPlan
{
    enum class Signal {
        Clock,         // the time each report is due: the display's lag can be read off it
        Board,         // the simulated board's battery with its noise and drift
        UniformNoise,  // 3.7 V with evenly spread noise of up to 0.005 V, as orvale-board-sim --uniform-noise
    };
    Signal signal = Signal::Clock;
    double rate = 720;        // reports per second
    double durationS = 30;
    bool randomCuts = false;  // cut the stream at random points, as a UART or USB adapter delivers it
    uint32_t seed = 1;
};

class Feeder
{
public:
    // Opens the pseudo-terminal and forks the feeder, which waits for start().
    // Must run before any thread exists (before the application object).
    bool spawn(const FeederPlan &plan, int64_t timeBaseUs);
    QString portPath() const { return m_path; }
    void start();
    // Reports written; waits for the feeder to finish.
    long finish();

private:
    QString m_path;
    pid_t m_pid = -1;
    int m_startPipe = -1;
    int m_resultPipe = -1;
};

// Microseconds on the monotonic clock, shared by all processes.
int64_t monotonicUs();
