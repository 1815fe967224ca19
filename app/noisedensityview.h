// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The noise spectrum page: the noise spectral density on log-log axes.
class NoiseDensityView final : public AnalysisPage
{
public:
    explicit NoiseDensityView(const Widgets &widgets, QObject *parent = nullptr);
    void render(const AnalysisResult &result) override;
};
