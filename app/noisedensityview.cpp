// SPDX-License-Identifier: GPL-3.0-or-later
#include "noisedensityview.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

NoiseDensityView::NoiseDensityView(const Widgets &widgets, QObject *parent)
    : AnalysisPage(widgets, {"spectrum", &rows<&AnalysisResult::spectrum, &orvale::analysis::spectrumCsv>,
                             QT_TRANSLATE_NOOP("AnalysisPage", "少于 %1 条报告，无法计算噪声谱")}, parent)
{
    setUpPlot(tr("频率 (Hz)"), tr("噪声谱密度 (µV/√Hz)"), true);
    addGraph(tr("噪声谱密度"), QPen(dataColour(), 1.5));
}

void NoiseDensityView::render(const AnalysisResult &result)
{
    const orvale::analysis::Spectrum &s = result.spectrum;
    if (showNothing(s.rate, s.problem, s.frequencyHz.isEmpty()))
        return;
    m_plot->graph(0)->setData(s.frequencyHz, s.densityUvPerSqrtHz, true);
    setLogRange(m_plot->xAxis, s.frequencyHz, 1.0);
    setLogRange(m_plot->yAxis, s.densityUvPerSqrtHz, 2.0);
    finish(rateText(s.rate)
               + tr("；Welch 法：每段 %1 点，%2 段，Hann 窗，半重叠，分辨率 %3 Hz")
                     .arg(s.segmentLength)
                     .arg(s.segments)
                     .arg(s.frequencyHz.first(), 0, 'g', 3),
           true);
}

