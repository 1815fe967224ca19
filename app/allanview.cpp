// SPDX-License-Identifier: GPL-3.0-or-later
#include "allanview.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

using namespace orvale::analysis;

AllanView::AllanView(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, QObject *parent)
    : AnalysisPage(plot, info, exportButton, "allan", parent)
{
    setUpPlot(tr("平均时间 τ (s)"), tr("阿伦偏差 (µV)"), true);
    QCPGraph *adev = plot->addGraph();
    adev->setName(tr("重叠阿伦偏差"));
    adev->setPen(QPen(dataColour(), 1.5));
    adev->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    QCPGraph *minimum = plot->addGraph();
    minimum->setName(tr("最小值"));
    minimum->setLineStyle(QCPGraph::lsNone);
    minimum->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, fitColour(), 10));
}

AnalysisScheduler::Analysis AllanView::analysis() const
{
    return [](const SpanData &span) {
        AnalysisResult r;
        r.allan = allanDeviation(span);
        return r;
    };
}

void AllanView::show(const AnalysisResult &result)
{
    m_shown = result.allan;
    const AllanDeviation &a = m_shown;
    QString info = rateText(a.rate);
    if (!a.problem.isNone() || a.tauSeconds.isEmpty()) {
        m_plot->graph(0)->data()->clear();
        m_plot->graph(1)->data()->clear();
        showNothing(info, a.problem);
        return;
    }
    m_plot->graph(0)->setData(a.tauSeconds, a.adevMicrovolts, true);
    // Where averaging longer stops helping: what the operator looks for.
    int best = -1;
    for (int i = 0; i < a.adevMicrovolts.size(); ++i) {
        if (a.adevMicrovolts[i] > 0 && (best < 0 || a.adevMicrovolts[i] < a.adevMicrovolts[best]))
            best = i;
    }
    if (best >= 0) {
        m_plot->graph(1)->setData({a.tauSeconds[best]}, {a.adevMicrovolts[best]}, true);
        info += tr("；最小 %1 µV，在 τ = %2 s").arg(a.adevMicrovolts[best], 0, 'g', 3).arg(a.tauSeconds[best], 0, 'g', 4);
    } else {
        m_plot->graph(1)->data()->clear();
    }
    setLogRange(m_plot->xAxis, a.tauSeconds, 1.5);
    setLogRange(m_plot->yAxis, a.adevMicrovolts, 2.0);
    finish(info, true);
}

QByteArray AllanView::csv() const
{
    return allanCsv(m_shown);
}

QString AllanView::tooFewText(qint64 reportsNeeded) const
{
    return tr("少于 %1 条报告，无法计算阿伦偏差").arg(reportsNeeded);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_allanview.cpp"
