// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>

// The figures of a recording for scripts: `orvale-qv --summary FILE
// [--full-scale V] [--span SECONDS]` prints them as one JSON object on
// standard output. It runs on a QCoreApplication made before any window
// could exist, so it works over ssh and in CI with no display at all.
namespace orvale {

// True when the command line asks for the figures rather than the window.
[[nodiscard]] bool summaryRequested(int argc, char *argv[]);
// --summary, --full-scale and --span, for any parser whose --help should
// list them.
[[nodiscard]] QList<QCommandLineOption> summaryOptions();
// Runs it and returns the exit status: 0, 1 (the file cannot be read or is
// not a recording) or 2 (bad usage).
int runSummary(int argc, char *argv[]);

} // namespace orvale
