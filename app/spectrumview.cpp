// SPDX-License-Identifier: GPL-3.0-or-later
#include "spectrumview.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

using namespace orvale::analysis;

SpectrumView::SpectrumView(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, QObject *parent)
    : AnalysisPage(plot, info, exportButton, "spectrum", parent)
{
    setUpPlot(tr("频率 (Hz)"), tr("噪声谱密度 (µV/√Hz)"), true);
    QCPGraph *density = plot->addGraph();
    density->setName(tr("噪声谱密度"));
    density->setPen(QPen(dataColour(), 1.5));
}

AnalysisScheduler::Analysis SpectrumView::analysis() const
{
    return [](const SpanData &span) {
        AnalysisResult r;
        r.spectrum = noiseSpectrum(span);
        return r;
    };
}

void SpectrumView::show(const AnalysisResult &result)
{
    m_shown = result.spectrum;
    const Spectrum &s = m_shown;
    const QString info = rateText(s.rate);
    if (!s.problem.isNone() || s.frequencyHz.isEmpty()) {
        m_plot->graph(0)->data()->clear();
        showNothing(info, s.problem);
        return;
    }
    m_plot->graph(0)->setData(s.frequencyHz, s.densityUvPerSqrtHz, true);
    setLogRange(m_plot->xAxis, s.frequencyHz, 1.0);
    setLogRange(m_plot->yAxis, s.densityUvPerSqrtHz, 2.0);
    finish(info
               + tr("；Welch 法：每段 %1 点，%2 段，Hann 窗，半重叠，分辨率 %3 Hz")
                     .arg(s.segmentLength)
                     .arg(s.segments)
                     .arg(s.frequencyHz.first(), 0, 'g', 3),
           true);
}

QByteArray SpectrumView::csv() const
{
    return spectrumCsv(m_shown);
}

QString SpectrumView::tooFewText(qint64 reportsNeeded) const
{
    return tr("少于 %1 条报告，无法计算噪声谱").arg(reportsNeeded);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_spectrumview.cpp"
