// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The Allan deviation page: the overlapping Allan deviation against the
// averaging time, its minimum marked (where averaging longer stops helping).
class AllanView final : public AnalysisPage
{
public:
    explicit AllanView(const Widgets &widgets, QObject *parent = nullptr);
    void render(const AnalysisResult &result) override;
};
