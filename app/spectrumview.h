// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The noise spectrum page: the noise spectral density on log-log axes.
class SpectrumView : public AnalysisPage
{
    Q_OBJECT

public:
    SpectrumView(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, QObject *parent = nullptr);

    [[nodiscard]] AnalysisScheduler::Analysis analysis() const override;
    void show(const AnalysisResult &result) override;

protected:
    [[nodiscard]] QByteArray csv() const override;
    [[nodiscard]] QString tooFewText(qint64 reportsNeeded) const override;

private:
    orvale::analysis::Spectrum m_shown;
};
