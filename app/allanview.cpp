// SPDX-License-Identifier: GPL-3.0-or-later
#include "allanview.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

AllanView::AllanView(const Widgets &widgets, QObject *parent)
    : AnalysisPage(widgets, {"allan", &rows<&AnalysisResult::allan, &orvale::analysis::allanCsv>,
                             QT_TRANSLATE_NOOP("AnalysisPage", "少于 %1 条报告，无法计算阿伦偏差")}, parent)
{
    setUpPlot(tr("平均时间 τ (s)"), tr("阿伦偏差 (µV)"), true);
    QCPGraph *adev = addGraph(tr("重叠阿伦偏差"), QPen(dataColour(), 1.5));
    adev->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    QCPGraph *minimum = m_plot->addGraph();
    minimum->setName(tr("最小值"));
    minimum->setLineStyle(QCPGraph::lsNone);
    minimum->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, fitColour(), 10));
}

void AllanView::render(const AnalysisResult &result)
{
    const orvale::analysis::AllanDeviation &a = result.allan;
    if (showNothing(a.rate, a.problem, a.tauSeconds.isEmpty()))
        return;
    QString info = rateText(a.rate);
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

