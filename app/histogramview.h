// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The histogram page: counts of the span's values per bin in µV from the
// mean, with the normal density of the same mean and rms over them.
class HistogramView : public AnalysisPage
{
    Q_OBJECT

public:
    HistogramView(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, QObject *parent = nullptr);

    [[nodiscard]] AnalysisScheduler::Analysis analysis() const override;
    void show(const AnalysisResult &result) override;

protected:
    [[nodiscard]] QByteArray csv() const override;

private:
    orvale::analysis::Histogram m_shown;
};
