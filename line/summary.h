// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The figures of a recording for scripts: `orvale-qv --summary FILE
// [--full-scale V] [--span SECONDS]` prints them as one JSON object on
// standard output. It needs Qt Core alone, so it works over ssh and in CI
// with no display at all.
namespace orvale {

struct SummaryOptions;

// Runs it on options the command line has checked and returns the exit
// status: 0, or 1 (the file cannot be read or is not a recording).
int runSummary(const SummaryOptions &options);

} // namespace orvale
