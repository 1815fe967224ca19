// SPDX-License-Identifier: GPL-3.0-or-later
#include "trendwindow.h"
#include "ui_trendwindow.h"

#include "commframe.h"
#include "reporthistory.h"

#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace {

// Length of each entry of trendSpan in milliseconds; 0 is the whole history.
constexpr qint64 SpanMs[] = {10 * 1000, 60 * 1000, 10 * 60 * 1000, 60 * 60 * 1000, 0};
constexpr int RefreshIntervalMs = 100;
// More points than the plot has pixels across add nothing but drawing time.
constexpr int MaxPlotPoints = 2400;

} // namespace

TrendWindow::TrendWindow(const ReportHistory *history, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui_TrendWindow), m_history(history)
{
    ui->setupUi(this);
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    QCustomPlot *plot = ui->trendPlot;
    plot->addGraph();
    plot->graph(0)->setPen(QPen(QColor(0x1f, 0x5f, 0xbf), 1));
    plot->graph(0)->setAntialiased(false);
    QSharedPointer<QCPAxisTickerDateTime> timeTicker(new QCPAxisTickerDateTime);
    timeTicker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    plot->xAxis->setTicker(timeTicker);
    plot->xAxis->setLabel(tr("时间"));
    plot->yAxis->setLabel(tr("电压 (V)"));
    plot->yAxis->setNumberFormat(QStringLiteral("f"));

    m_refreshTimer.setInterval(RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TrendWindow::refresh);
    connect(ui->trendSpan, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendWindow::refresh);
    connect(ui->trendPause, &QCheckBox::toggled, this, &TrendWindow::onPauseToggled);
}

TrendWindow::~TrendWindow()
{
    delete ui;
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    m_refreshTimer.start();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    // Hidden, it costs nothing: the history goes on filling without it.
    m_refreshTimer.stop();
    QWidget::hideEvent(event);
}

void TrendWindow::onPauseToggled(bool paused)
{
    m_frozenEnd = paused ? m_history->endIndex() : -1;
    refresh();
}

void TrendWindow::refresh()
{
    const int spanIndex = std::clamp(ui->trendSpan->currentIndex(), 0, int(std::size(SpanMs)) - 1);
    const qint64 end = std::max(m_history->firstIndex(), m_frozenEnd >= 0 ? m_frozenEnd : m_history->endIndex());
    if (end == m_drawnEnd && spanIndex == m_drawnSpan)
        return;
    m_drawnEnd = end;
    m_drawnSpan = spanIndex;

    QCustomPlot *plot = ui->trendPlot;
    if (end == m_history->firstIndex()) {
        plot->graph(0)->data()->clear();
        showStatistics(SpanStatistics());
        plot->replot();
        return;
    }
    const qint64 spanMs = SpanMs[spanIndex];
    const qint64 endMs = m_history->timeAt(end - 1);
    const qint64 begin = spanMs > 0 ? m_history->lowerBound(endMs - spanMs) : m_history->firstIndex();
    const qint64 beginMs = spanMs > 0 ? endMs - spanMs : m_history->timeAt(begin);

    QVector<double> keys, values;
    m_history->envelope(begin, end, MaxPlotPoints, keys, values);
    plot->graph(0)->setData(keys, values, true);
    plot->xAxis->setRange(double(beginMs) / 1000.0, double(std::max(endMs, beginMs + 1)) / 1000.0);

    const SpanStatistics s = m_history->statistics(begin, end);
    // Y follows the data in the span, with room for the line at the edges.
    const double lo = s.minCounts * 1e-8, hi = s.maxCounts * 1e-8;
    const double margin = std::max((hi - lo) * 0.08, 1e-6);
    plot->yAxis->setRange(lo - margin, hi + margin);
    // One decimal more than the tick step needs, for steps such as 0.0025.
    const double step = (hi - lo + 2 * margin) / 5;
    plot->yAxis->setNumberPrecision(std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 8));
    showStatistics(s);
    plot->replot();
}

void TrendWindow::showStatistics(const SpanStatistics &s)
{
    const QString volts = QStringLiteral(" V");
    const QString microvolts = QStringLiteral(" µV");
    ui->statCount->setText(QString::number(s.count) + tr(" 条"));
    ui->statRate->setText(QString::number(s.ratePerSecond, 'f', 1) + QStringLiteral(" /s"));
    if (s.count == 0) {
        for (QLabel *label : {ui->statMean, ui->statMin, ui->statMax, ui->statRms, ui->statPeakToPeak})
            label->setText(QStringLiteral("-"));
        return;
    }
    ui->statMean->setText(QString::number(s.mean, 'f', 8) + volts);
    ui->statMin->setText(orvale::valueText(s.minCounts) + volts);
    ui->statMax->setText(orvale::valueText(s.maxCounts) + volts);
    ui->statRms->setText(QString::number(s.rmsMicrovolts, 'f', 2) + microvolts);
    ui->statPeakToPeak->setText(QString::number(s.peakToPeakMicrovolts, 'f', 2) + microvolts);
}

void TrendWindow::on_savePlotButton_clicked()
{
    const QString proposed = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("'orvale-trend-'yyyyMMdd-hhmmss'.png'"));
    const QString path = QFileDialog::getSaveFileName(this, tr("保存图片"), proposed, tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!ui->trendPlot->savePng(path))
        QMessageBox::warning(this, tr("保存图片失败"), tr("无法写入 %1").arg(path));
}
