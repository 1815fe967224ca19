// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "boardsignal.h"
#include "commframe.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

// Everything the command line decides about one run of the simulated board.
struct SimOptions
{
    uint8_t id = 0xA1;
    orvale::SettingsGroup settings = {1, 4, 0, 3};  // 10 Sa/s, Kalman, reserved, AVDD
    std::optional<uint32_t> fixedValue;             // unset: 3.7 V with noise
    BoardSignal::Levels levels;                     // the battery's noise and drift
    bool uniformNoise = false;                      // 3.7 V ± 5 mV, evenly spread, instead
    std::array<uint8_t, 5> echo = {};               // bytes 1-3 and 12-13 of every report
    std::optional<double> rate;                     // reports per second, overrides the code
    bool burst = false;
    bool split = false;
    int corruptEvery = 0;  // 0: no corrupted frames
    int junkBytes = 0;     // 0: no junk
    qint64 count = 0;      // 0: no limit
    std::optional<double> durationSeconds;
    std::optional<quint32> seed;
    QString linkPath;
    bool logReports = false;
};

enum class ParseStatus { Ok, Help, Error };

struct ParseResult
{
    ParseStatus status = ParseStatus::Ok;
    QString text;  // the help text or the error message
};

// Parses the program's arguments (argv[0] included) into `options`.
[[nodiscard]] ParseResult parseSimOptions(const QStringList &arguments, SimOptions &options);
