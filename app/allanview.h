// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysispage.h"

// The Allan deviation page: the overlapping Allan deviation against the
// averaging time, its minimum marked (where averaging longer stops helping).
class AllanView : public AnalysisPage
{
    Q_OBJECT

public:
    AllanView(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, QObject *parent = nullptr);

    [[nodiscard]] AnalysisScheduler::Analysis analysis() const override;
    void show(const AnalysisResult &result) override;

protected:
    [[nodiscard]] QByteArray csv() const override;
    [[nodiscard]] QString tooFewText(qint64 reportsNeeded) const override;

private:
    orvale::analysis::AllanDeviation m_shown;
};
