// SPDX-License-Identifier: GPL-3.0-or-later
#include "histogramview.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

#include <algorithm>
#include <cmath>

using namespace orvale::analysis;

HistogramView::HistogramView(const Widgets &widgets, QObject *parent)
    : AnalysisPage(widgets, {"histogram", &rows<&AnalysisResult::histogram, &orvale::analysis::histogramCsv>,
                             nullptr}, parent)
{
    setUpPlot(tr("与平均值之差 (µV)"), tr("报告数"), false);
    const QColor data = dataColour();
    auto *bars = new QCPBars(m_plot->xAxis, m_plot->yAxis);
    bars->setName(tr("每个区间的报告数"));
    bars->setPen(QPen(data.darker(130), 1));
    bars->setBrush(data.lighter(150));
    bars->setWidthType(QCPBars::wtPlotCoords);
    addGraph(tr("正态分布：同平均值和 rms"), QPen(fitColour(), 2));
}

void HistogramView::render(const AnalysisResult &result)
{
    const Histogram &h = result.histogram;
    if (showNothing(RateChoice(), AnalysisProblem(), h.total <= 0 || h.counts.isEmpty()))
        return;
    auto *bars = qobject_cast<QCPBars *>(m_plot->plottable(0));
    QCPGraph *normal = m_plot->graph(0);
    // Keys in µV from the mean: at 3.7 V with a few µV of noise, volts would
    // need ten figures on every tick.
    const double meanCounts = h.meanVolts * 1e8;
    const double widthUv = double(h.binWidthCounts) * 0.01;
    QVector<double> keys, counts;
    qint64 highest = 0;
    for (int i = 0; i < h.counts.size(); ++i) {
        keys.append((double(h.lowCounts + i * h.binWidthCounts) - meanCounts) * 0.01 + widthUv / 2);
        counts.append(double(h.counts[i]));
        highest = std::max(highest, h.counts[i]);
    }
    bars->setWidth(widthUv);
    bars->setData(keys, counts, true);

    const double lowUv = keys.first() - widthUv / 2, highUv = keys.last() + widthUv / 2;
    const double rmsUv = h.rmsVolts * 1e6;
    QVector<double> x, y;
    double peak = 0;
    if (rmsUv > 0) {
        // The normal density scaled to counts per bin: total x bin width x pdf.
        const double scale = double(h.total) * widthUv / (rmsUv * std::sqrt(2 * M_PI));
        const double from = std::min(lowUv, -4 * rmsUv), to = std::max(highUv, 4 * rmsUv);
        for (int i = 0; i <= 200; ++i) {
            const double u = from + (to - from) * i / 200;
            x.append(u);
            y.append(scale * std::exp(-0.5 * (u / rmsUv) * (u / rmsUv)));
        }
        peak = scale;
    }
    normal->setData(x, y, true);
    const double margin = std::max((highUv - lowUv) * 0.05, widthUv);
    m_plot->xAxis->setRange(std::min(lowUv, x.isEmpty() ? lowUv : x.first()) - margin,
                            std::max(highUv, x.isEmpty() ? highUv : x.last()) + margin);
    m_plot->yAxis->setRange(0, std::max(double(highest), peak) * 1.12);
    finish(tr("%1 条报告，%2 个区间，每区间 %3 个计数 = %4 µV；平均值 %5 V，噪声 (rms) %6 µV")
               .arg(h.total)
               .arg(h.counts.size())
               .arg(h.binWidthCounts)
               .arg(widthUv, 0, 'g', 6)
               .arg(h.meanVolts, 0, 'f', 8)
               .arg(rmsUv, 0, 'f', 2),
           true);
}

