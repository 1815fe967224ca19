// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The histogram page: counts of the span's values per bin in µV from the
// mean, with the normal density of the same mean and rms over them.
class HistogramView final : public AnalysisPage
{
public:
    explicit HistogramView(const Widgets &widgets, QObject *parent = nullptr);
    void render(const AnalysisResult &result) override;
};
