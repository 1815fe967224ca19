// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysispage.h"

#include "analysiscsv.h"

#include "qcustomplot.h"

#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

using namespace orvale::analysis;

AnalysisPage::AnalysisPage(const Widgets &widgets, const Kind &kind, QObject *parent)
    : QObject(parent), m_plot(widgets.plot), m_info(widgets.info), m_export(widgets.exportButton), m_kind(kind)
{
    connect(m_export, &QPushButton::clicked, this, &AnalysisPage::exportClicked);
}

void AnalysisPage::show(const AnalysisResult &result)
{
    // Kept for the export; its vectors are shared, not copied.
    m_shown = result;
    render(result);
}

void AnalysisPage::showAnalysing(qint64 reports)
{
    m_info->setText(tr("正在分析 %1 条报告…").arg(reports));
    m_export->setEnabled(false);
}

bool AnalysisPage::exportCsv(const QString &path) const
{
    return m_export->isEnabled() && writeCsvFile(path, m_kind.csv(m_shown));
}

QString AnalysisPage::proposedPath(const QString &what, const QString &suffix)
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/orvale-") + what
        + QLatin1Char('-') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")) + suffix;
}

void AnalysisPage::exportClicked()
{
    const QString path = QFileDialog::getSaveFileName(m_export->window(), tr("导出 CSV"),
                                                      proposedPath(QLatin1String(m_kind.name), QStringLiteral(".csv")),
                                                      tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportCsv(path))
        QMessageBox::warning(m_export->window(), tr("导出失败"), tr("无法写入 %1").arg(path));
}

QCPGraph *AnalysisPage::addGraph(const QString &name, const QPen &pen)
{
    QCPGraph *graph = m_plot->addGraph();
    graph->setName(name);
    graph->setPen(pen);
    return graph;
}

void AnalysisPage::setUpPlot(const QString &xLabel, const QString &yLabel, bool logLog)
{
    m_plot->xAxis->setLabel(xLabel);
    m_plot->yAxis->setLabel(yLabel);
    if (logLog) {
        for (QCPAxis *axis : {m_plot->xAxis, m_plot->yAxis}) {
            axis->setScaleType(QCPAxis::stLogarithmic);
            QSharedPointer<QCPAxisTickerLog> ticker(new QCPAxisTickerLog);
            axis->setTicker(ticker);
            axis->setNumberFormat(QStringLiteral("gb"));
            axis->grid()->setSubGridVisible(true);
        }
    }
    m_plot->legend->setVisible(true);
    m_plot->legend->setBrush(QColor(255, 255, 255, 220));
    m_plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

// A log axis over the positive values, a little wider than they are. Over
// less than three decades a log axis labels one or two ticks at most, so
// the ticks go at 1, 2 and 5 of each decade, each labelled.
void AnalysisPage::setLogRange(QCPAxis *axis, const QVector<double> &values, double marginFactor)
{
    double lo = 0, hi = 0;
    for (double v : values) {
        if (v > 0 && std::isfinite(v)) {
            lo = lo > 0 ? std::min(lo, v) : v;
            hi = std::max(hi, v);
        }
    }
    if (!(lo > 0)) {
        lo = 1e-3;
        hi = 1;
    }
    lo /= marginFactor;
    hi *= marginFactor;
    axis->setRange(lo, hi);
    if (hi / lo >= 1000) {
        if (!axis->ticker().dynamicCast<QCPAxisTickerLog>())
            axis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
        return;
    }
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    ticker->setSubTickCount(0);
    for (int decade = int(std::floor(std::log10(lo))); decade <= int(std::ceil(std::log10(hi))); ++decade) {
        for (const double step : {1.0, 2.0, 5.0}) {
            const double tick = step * std::pow(10.0, decade);
            if (tick >= lo && tick <= hi)
                ticker->addTick(tick, QString::number(tick, 'g', 3));
        }
    }
    axis->setTicker(ticker);
}

QString AnalysisPage::rateText(const RateChoice &r)
{
    if (r.end <= r.begin)
        return QString();
    QString text = tr("采样率 %1 Sa/s").arg(r.sampleRate, 0, 'g', 4);
    if (!r.fromCode)
        text += tr("（速率代码不在表中：由到达时间测得）");
    // Plain figures: thousands separators would be misread as decimals by some.
    if (r.mixedRates)
        text += tr("；时间段内有多种采样率：只分析了最新一段同一采样率的 %1 条报告").arg(r.end - r.begin);
    else
        text += tr("，%1 条报告").arg(r.end - r.begin);
    return text;
}

bool AnalysisPage::showNothing(const RateChoice &rate, const AnalysisProblem &problem, bool empty)
{
    if (!empty && problem.isNone())
        return false;
    for (int i = 0; i < m_plot->plottableCount(); ++i) {
        if (auto *graph = qobject_cast<QCPGraph *>(m_plot->plottable(i)))
            graph->data()->clear();
        else if (auto *bars = qobject_cast<QCPBars *>(m_plot->plottable(i)))
            bars->data()->clear();
    }
    QString why = tr("时间段内没有报告");
    if (problem.code == AnalysisProblem::TooFewReports && m_kind.tooFewText)
        why = tr(m_kind.tooFewText).arg(problem.reportsNeeded);
    else if (problem.code == AnalysisProblem::NoSampleRate)
        why = tr("报告的到达时间相同，无法确定采样率");
    const QString info = rateText(rate);
    finish(info + (info.isEmpty() ? QString() : QStringLiteral("；")) + why, false);
    return true;
}

void AnalysisPage::finish(const QString &info, bool exportable)
{
    m_export->setEnabled(exportable);
    m_info->setText(info);
    m_plot->replot();
}

// Compiled with this file, so the build reads its headers once.
#include "moc_analysispage.cpp"
