// SPDX-License-Identifier: GPL-3.0-or-later
#include "trendwindow.h"
#include "ui_trendwindow.h"

#include "commframe.h"
#include "reporthistory.h"

#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QtConcurrentRun>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace orvale::analysis;

namespace {

// Length of each entry of trendSpan in milliseconds; 0 is the whole history.
constexpr qint64 SpanMs[] = {10 * 1000, 60 * 1000, 10 * 60 * 1000, 60 * 60 * 1000, 0};
constexpr int RefreshIntervalMs = 100;
// More points than the plot has pixels across add nothing but drawing time.
constexpr int MaxPlotPoints = 2400;
// A page over a small span follows new reports once a second: faster, a
// spectrum only flickers with the variance of its estimate.
constexpr int SmallSpanIntervalMs = 1000;
// A worker's analysis may take at most this share of the time between two
// (spans so long that even the 2 s interval would keep a core busy).
constexpr int AnalysisDutyDivisor = 8;
// How near a cursor, in pixels, a press takes hold of it.
constexpr int CursorGrabPixels = 8;

const QString FullScaleKey = QStringLiteral("trendWindow/fullScaleVolts");
const QColor DataColour(0x1f, 0x5f, 0xbf);
const QColor FitColour(0xd0, 0x40, 0x20);

// Counts of 10 nV in volts with ten decimals, exactly (no rounding through a
// double): edges written this way are contiguous in the file too.
QString countsAsVolts(qint64 counts)
{
    return QStringLiteral("%1.%2").arg(counts / 100000000).arg(counts % 100000000, 8, 10, QLatin1Char('0'))
        + QStringLiteral("00");
}

// Plain figures with thousands separators would be misread as decimals by
// some; a thin group is not worth it here.
QString countText(qint64 n)
{
    return QString::number(n);
}

void setUpPlot(QCustomPlot *plot, const QString &xLabel, const QString &yLabel, bool logLog)
{
    plot->xAxis->setLabel(xLabel);
    plot->yAxis->setLabel(yLabel);
    if (logLog) {
        for (QCPAxis *axis : {plot->xAxis, plot->yAxis}) {
            axis->setScaleType(QCPAxis::stLogarithmic);
            QSharedPointer<QCPAxisTickerLog> ticker(new QCPAxisTickerLog);
            axis->setTicker(ticker);
            axis->setNumberFormat(QStringLiteral("gb"));
            axis->grid()->setSubGridVisible(true);
        }
    }
    plot->legend->setVisible(true);
    plot->legend->setBrush(QColor(255, 255, 255, 220));
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

// A log axis over the positive values, a little wider than they are. Over
// less than three decades a log axis labels one or two ticks at most, so
// the ticks go at 1, 2 and 5 of each decade, each labelled.
void setLogRange(QCPAxis *axis, const QVector<double> &values, double marginFactor)
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

QString rateText(const RateChoice &r)
{
    QString text = TrendWindow::tr("采样率 %1 Sa/s").arg(r.sampleRate, 0, 'g', 4);
    if (!r.fromCode)
        text += TrendWindow::tr("（速率代码不在表中：由到达时间测得）");
    if (r.mixedRates)
        text += TrendWindow::tr("；时间段内有多种采样率：只分析了最新一段同一采样率的 %1 条报告")
                    .arg(countText(r.end - r.begin));
    else
        text += TrendWindow::tr("，%1 条报告").arg(countText(r.end - r.begin));
    return text;
}

} // namespace

TrendWindow::TrendWindow(const ReportHistory *history, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui_TrendWindow), m_history(history)
{
    ui->setupUi(this);
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);

    QCustomPlot *plot = ui->trendPlot;
    plot->addGraph();
    plot->graph(0)->setPen(QPen(DataColour, 1));
    plot->graph(0)->setAntialiased(false);
    QSharedPointer<QCPAxisTickerDateTime> timeTicker(new QCPAxisTickerDateTime);
    timeTicker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    plot->xAxis->setTicker(timeTicker);
    plot->xAxis->setLabel(tr("时间"));
    plot->yAxis->setLabel(tr("电压 (V)"));
    plot->yAxis->setNumberFormat(QStringLiteral("f"));

    m_cursorBand = new QCPItemRect(plot);
    m_cursorBand->setPen(Qt::NoPen);
    m_cursorBand->setBrush(QColor(0xff, 0xb0, 0x20, 40));
    m_cursorBand->topLeft->setTypeY(QCPItemPosition::ptAxisRectRatio);
    m_cursorBand->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    for (QCPItemStraightLine *&line : m_cursorLine) {
        line = new QCPItemStraightLine(plot);
        line->setPen(QPen(QColor(0xc0, 0x60, 0x00), 1.5));
        line->point1->setTypeY(QCPItemPosition::ptAxisRectRatio);
        line->point2->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
    placeCursorLines();
    connect(plot, &QCustomPlot::mousePress, this, [this](QMouseEvent *e) { cursorMouse(e); });
    connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent *e) { cursorMouse(e); });
    connect(plot, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *e) { cursorMouse(e); });

    setUpPlot(ui->histogramPlot, tr("与平均值之差 (µV)"), tr("报告数"), false);
    QCPBars *bars = new QCPBars(ui->histogramPlot->xAxis, ui->histogramPlot->yAxis);
    bars->setName(tr("每个区间的报告数"));
    bars->setPen(QPen(DataColour.darker(130), 1));
    bars->setBrush(DataColour.lighter(150));
    bars->setWidthType(QCPBars::wtPlotCoords);
    QCPGraph *normal = ui->histogramPlot->addGraph();
    normal->setName(tr("正态分布：同平均值和 rms"));
    normal->setPen(QPen(FitColour, 2));

    setUpPlot(ui->spectrumPlot, tr("频率 (Hz)"), tr("噪声谱密度 (µV/√Hz)"), true);
    QCPGraph *density = ui->spectrumPlot->addGraph();
    density->setName(tr("噪声谱密度"));
    density->setPen(QPen(DataColour, 1.5));

    setUpPlot(ui->allanPlot, tr("平均时间 τ (s)"), tr("阿伦偏差 (µV)"), true);
    QCPGraph *adev = ui->allanPlot->addGraph();
    adev->setName(tr("重叠阿伦偏差"));
    adev->setPen(QPen(DataColour, 1.5));
    adev->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    QCPGraph *minimum = ui->allanPlot->addGraph();
    minimum->setName(tr("最小值"));
    minimum->setLineStyle(QCPGraph::lsNone);
    minimum->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, FitColour, 10));

    {
        const QSignalBlocker blocker(ui->fullScaleSpin);
        ui->fullScaleSpin->setValue(QSettings().value(FullScaleKey, 5.0).toDouble());
    }

    for (int page = HistogramPage; page < PageCount; ++page) {
        auto *watcher = new QFutureWatcher<Result>(this);
        m_pages[size_t(page)].watcher = watcher;
        connect(watcher, &QFutureWatcher<Result>::finished, this, [this, page] { analysisFinished(Page(page)); });
        connect(exportOf(Page(page)), &QPushButton::clicked, this, [this, page] { exportClicked(Page(page)); });
    }

    m_refreshTimer.setInterval(RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TrendWindow::refresh);
    connect(ui->trendSpan, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendWindow::onSpanChosen);
    connect(ui->trendPause, &QCheckBox::toggled, this, &TrendWindow::onPauseToggled);
    connect(ui->cursorButton, &QPushButton::toggled, this, &TrendWindow::onCursorButtonToggled);
    connect(ui->fullScaleSpin, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &TrendWindow::onFullScaleChanged);
    connect(ui->analysisTabs, &QTabWidget::currentChanged, this, &TrendWindow::refresh);
}

TrendWindow::~TrendWindow()
{
    // A worker still running holds its own copy of the span and nothing of
    // this window; only its report back must not arrive.
    for (PageState &page : m_pages) {
        if (page.watcher)
            disconnect(page.watcher, nullptr, this, nullptr);
    }
    delete ui;
}

void TrendWindow::setLive(bool live)
{
    m_live = live;
    ui->trendPause->setVisible(live);
    if (!live) {
        m_refreshTimer.stop();
        ui->trendPause->setChecked(false);
    } else if (isVisible()) {
        m_refreshTimer.start();
    }
}

void TrendWindow::setHistory(const ReportHistory *history)
{
    m_history = history;
    ui->trendPause->setChecked(false);
    m_frozenEnd = -1;
    clearCursors();
    m_drawnEnd = -1;
    selectionChanged();
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    if (m_live)
        m_refreshTimer.start();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    // Hidden, it costs nothing: the history goes on filling without it.
    m_refreshTimer.stop();
    for (PageState &page : m_pages)
        page.room.reset();
    QWidget::hideEvent(event);
}

void TrendWindow::onPauseToggled(bool paused)
{
    m_frozenEnd = paused ? m_history->endIndex() : -1;
    selectionChanged();
}

void TrendWindow::onSpanChosen()
{
    clearCursors();
    selectionChanged();
}

void TrendWindow::selectionChanged()
{
    ++m_generation;
    refresh();
}

void TrendWindow::onFullScaleChanged(double volts)
{
    QSettings().setValue(FullScaleKey, volts);
    m_drawnGeneration = ~quint64(0);
    refresh();
}

void TrendWindow::currentSpan(qint64 &begin, qint64 &end) const
{
    const int spanIndex = std::clamp(ui->trendSpan->currentIndex(), 0, int(std::size(SpanMs)) - 1);
    end = std::max(m_history->firstIndex(), m_frozenEnd >= 0 ? m_frozenEnd : m_history->endIndex());
    end = std::min(end, m_history->endIndex());
    if (end == m_history->firstIndex()) {
        begin = end;
        return;
    }
    const qint64 spanMs = SpanMs[spanIndex];
    begin = spanMs > 0 ? m_history->lowerBound(m_history->timeAt(end - 1) - spanMs) : m_history->firstIndex();
    if (m_cursorsSet) {
        // A report at t belongs when lo <= t <= hi, t in whole milliseconds.
        const double lo = std::min(m_cursorS[0], m_cursorS[1]), hi = std::max(m_cursorS[0], m_cursorS[1]);
        begin = std::max(begin, m_history->lowerBound(qint64(std::ceil(lo * 1000.0))));
        end = std::min(end, m_history->lowerBound(qint64(std::floor(hi * 1000.0)) + 1));
        end = std::max(begin, end);
    }
}

void TrendWindow::refresh()
{
    qint64 end = std::max(m_history->firstIndex(), m_frozenEnd >= 0 ? m_frozenEnd : m_history->endIndex());
    end = std::min(end, m_history->endIndex());
    const int spanIndex = std::clamp(ui->trendSpan->currentIndex(), 0, int(std::size(SpanMs)) - 1);
    qint64 spanBegin = end, beginMs = 0, endMs = 0;
    if (end > m_history->firstIndex()) {
        const qint64 spanMs = SpanMs[spanIndex];
        endMs = m_history->timeAt(end - 1);
        spanBegin = spanMs > 0 ? m_history->lowerBound(endMs - spanMs) : m_history->firstIndex();
        beginMs = spanMs > 0 ? endMs - spanMs : m_history->timeAt(spanBegin);
    }
    // Cursors that the live view has scrolled past (or whose reports the
    // history has let go) would stand for reports no longer shown.
    if (m_cursorsSet && std::min(m_cursorS[0], m_cursorS[1]) * 1000.0 < double(beginMs)) {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(false);
        m_cursorsSet = false;
        placeCursorLines();
        ++m_generation;
    }

    const int page = ui->analysisTabs->currentIndex();
    if (end != m_drawnEnd || m_generation != m_drawnGeneration) {
        m_drawnEnd = end;
        m_drawnGeneration = m_generation;
        qint64 begin = 0, coveredEnd = 0;
        currentSpan(begin, coveredEnd);
        const SpanStatistics s = m_history->statistics(begin, coveredEnd);
        showStatistics(s);
    }
    // The plot is drawn only while its page shows: over the whole history
    // each drawing costs more than the statistics.
    if (page == TrendPage && (end != m_plotEnd || m_generation != m_plotGeneration)) {
        m_plotEnd = end;
        m_plotGeneration = m_generation;
        drawTrend(spanBegin, end, beginMs, endMs);
    }
    // A page's room for its copy (10 MB over the full history) is kept only
    // while the page shows.
    for (int other = HistogramPage; other < PageCount; ++other) {
        if (other != page || !isVisible())
            m_pages[size_t(other)].room.reset();
    }
    if (page != TrendPage && page < PageCount && isVisible()) {
        qint64 begin = 0, coveredEnd = 0;
        currentSpan(begin, coveredEnd);
        updatePage(Page(page), begin, coveredEnd);
    }
}

void TrendWindow::drawTrend(qint64 spanBegin, qint64 end, qint64 beginMs, qint64 endMs)
{
    QCustomPlot *plot = ui->trendPlot;
    if (end == spanBegin) {
        plot->graph(0)->data()->clear();
        plot->replot();
        return;
    }
    QVector<double> keys, values;
    m_history->envelope(spanBegin, end, MaxPlotPoints, keys, values);
    plot->graph(0)->setData(keys, values, true);
    plot->xAxis->setRange(double(beginMs) / 1000.0, double(std::max(endMs, beginMs + 1)) / 1000.0);

    // Y follows the data in the span (not only between the cursors), with
    // room for the line at the edges.
    const SpanStatistics all = m_history->statistics(spanBegin, end);
    const double lo = all.minCounts * 1e-8, hi = all.maxCounts * 1e-8;
    const double margin = std::max((hi - lo) * 0.08, 1e-6);
    plot->yAxis->setRange(lo - margin, hi + margin);
    // One decimal more than the tick step needs, for steps such as 0.0025.
    const double step = (hi - lo + 2 * margin) / 5;
    plot->yAxis->setNumberPrecision(std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 8));
    placeCursorLines();
    plot->replot();
}

void TrendWindow::showStatistics(const SpanStatistics &s)
{
    const QString volts = QStringLiteral(" V");
    const QString microvolts = QStringLiteral(" µV");
    ui->statCount->setText(QString::number(s.count) + tr(" 条"));
    ui->statRate->setText(QString::number(s.ratePerSecond, 'f', 1) + QStringLiteral(" /s"));
    ui->cursorInterval->setText(m_cursorsSet ? QString::number(std::abs(m_cursorS[1] - m_cursorS[0]), 'f', 3)
                                        + QStringLiteral(" s")
                                             : QStringLiteral("-"));
    const auto bits = [](double b) {
        return std::isfinite(b) ? QString::number(b, 'f', 2) + QStringLiteral(" bit") : QStringLiteral("-");
    };
    if (s.count == 0) {
        for (QLabel *label : {ui->statMean, ui->statMin, ui->statMax, ui->statRms, ui->statPeakToPeak,
                              ui->statEffectiveBits, ui->statNoiseFreeBits, ui->statDrift})
            label->setText(QStringLiteral("-"));
        return;
    }
    ui->statMean->setText(QString::number(s.mean, 'f', 8) + volts);
    ui->statMin->setText(orvale::valueText(s.minCounts) + volts);
    ui->statMax->setText(orvale::valueText(s.maxCounts) + volts);
    ui->statRms->setText(QString::number(s.rmsMicrovolts, 'f', 2) + microvolts);
    ui->statPeakToPeak->setText(QString::number(s.peakToPeakMicrovolts, 'f', 2) + microvolts);
    const double fullScale = ui->fullScaleSpin->value();
    ui->statEffectiveBits->setText(bits(resolutionBits(fullScale, s.rmsMicrovolts)));
    ui->statNoiseFreeBits->setText(bits(resolutionBits(fullScale, s.peakToPeakMicrovolts)));
    ui->statDrift->setText(std::isfinite(s.driftMicrovoltsPerMinute)
                               ? QString::number(s.driftMicrovoltsPerMinute, 'f', 3) + QStringLiteral(" µV/min")
                               : QStringLiteral("-"));
}

TrendWindow::Result TrendWindow::analyse(Page page, const SpanData &span)
{
    Result r;
    if (page == HistogramPage)
        r.histogram = histogram(span);
    else if (page == SpectrumPage)
        r.spectrum = noiseSpectrum(span);
    else if (page == AllanPage)
        r.allan = allanDeviation(span);
    return r;
}

void TrendWindow::updatePage(Page page, qint64 begin, qint64 end)
{
    PageState &p = m_pages[size_t(page)];
    // Never two of one page at once: its report back looks again.
    if (p.busy)
        return;
    const bool sameSelection = p.shown && p.generation == m_generation;
    if (sameSelection && p.begin == begin && p.end == end)
        return;
    if (sameSelection && p.started.isValid()) {
        const qint64 interval = p.large ? std::max<qint64>(LargeSpanIntervalMs, AnalysisDutyDivisor * p.tookMs)
                                        : SmallSpanIntervalMs;
        if (p.started.elapsed() < interval)
            return;
    }
    startAnalysis(page, begin, end);
}

void TrendWindow::startAnalysis(Page page, qint64 begin, qint64 end)
{
    PageState &p = m_pages[size_t(page)];
    p.generation = m_generation;
    p.begin = begin;
    p.end = end;
    p.large = end - begin > LargeSpanReports;
    p.started.start();
    if (!p.large) {
        p.result = analyse(page, copySpan(*m_history, begin, end));
        p.tookMs = p.started.elapsed();
        p.shown = true;
        showResult(page);
        return;
    }
    p.busy = true;
    if (!p.shown || p.shownGeneration != m_generation) {
        infoOf(page)->setText(tr("正在分析 %1 条报告…").arg(countText(end - begin)));
        exportOf(page)->setEnabled(false);
    }
    // The room of the page's last copy serves again while it is large enough.
    if (p.room && p.room->values.capacity() >= size_t(end - begin) + 1024) {
        copyAndAnalyse(page);
        return;
    }
    p.room.reset();
    p.allocating = true;
    // With room for the reports that arrive before the copy is taken.
    const size_t room = size_t(end - begin) + size_t(end - begin) / 8 + 4096;
    p.watcher->setFuture(QtConcurrent::run([room] {
        Result r;
        r.room = std::make_shared<SpanData>();
        r.room->values.resize(room);
        return r;
    }));
}

void TrendWindow::copyAndAnalyse(Page page)
{
    PageState &p = m_pages[size_t(page)];
    p.allocating = false;
    // The operator has moved on, or the page is no longer shown: nothing
    // to analyse; refresh() starts what is now wanted.
    if (p.generation != m_generation || !isVisible() || ui->analysisTabs->currentIndex() != page) {
        p.busy = false;
        return;
    }
    qint64 begin = 0, end = 0;
    currentSpan(begin, end);
    // The copy is taken here, on the thread that writes the history; the
    // worker only reads it, and this thread writes it again only once the
    // worker has finished (busy).
    copySpan(*m_history, begin, end, *p.room);
    p.begin = begin;
    p.end = end;
    p.watcher->setFuture(QtConcurrent::run([page, span = std::shared_ptr<const SpanData>(p.room)] {
        QElapsedTimer timer;
        timer.start();
        Result r = analyse(page, *span);
        r.tookMs = timer.elapsed();
        return r;
    }));
}

void TrendWindow::analysisFinished(Page page)
{
    PageState &p = m_pages[size_t(page)];
    if (p.allocating) {
        p.room = p.watcher->result().room;
        copyAndAnalyse(page);
        if (p.busy)
            return;
    } else {
        p.busy = false;
        // A result for a span the operator has since left is not shown.
        if (p.generation == m_generation) {
            p.result = p.watcher->result();
            p.tookMs = p.result.tookMs;
            p.shown = true;
            showResult(page);
        }
    }
    // The selection may have moved on while it ran.
    refresh();
}

void TrendWindow::showResult(Page page)
{
    PageState &p = m_pages[size_t(page)];
    p.shownGeneration = p.generation;
    if (page == HistogramPage)
        showHistogram(p.result.histogram);
    else if (page == SpectrumPage)
        showSpectrum(p.result.spectrum);
    else if (page == AllanPage)
        showAllan(p.result.allan);
}

void TrendWindow::showHistogram(const Histogram &h)
{
    QCustomPlot *plot = ui->histogramPlot;
    auto *bars = qobject_cast<QCPBars *>(plot->plottable(0));
    QCPGraph *normal = plot->graph(0);
    ui->histogramExport->setEnabled(h.total > 0 && !h.counts.isEmpty());
    if (!ui->histogramExport->isEnabled()) {
        bars->data()->clear();
        normal->data()->clear();
        ui->histogramInfo->setText(tr("时间段内没有报告"));
        plot->replot();
        return;
    }
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
    plot->xAxis->setRange(std::min(lowUv, x.isEmpty() ? lowUv : x.first()) - margin,
                          std::max(highUv, x.isEmpty() ? highUv : x.last()) + margin);
    plot->yAxis->setRange(0, std::max(double(highest), peak) * 1.12);
    ui->histogramInfo->setText(tr("%1 条报告，%2 个区间，每区间 %3 个计数 = %4 µV；平均值 %5 V，噪声 (rms) %6 µV")
                                   .arg(countText(h.total))
                                   .arg(h.counts.size())
                                   .arg(h.binWidthCounts)
                                   .arg(widthUv, 0, 'g', 6)
                                   .arg(h.meanVolts, 0, 'f', 8)
                                   .arg(rmsUv, 0, 'f', 2));
    plot->replot();
}

void TrendWindow::showSpectrum(const Spectrum &s)
{
    QCustomPlot *plot = ui->spectrumPlot;
    const bool any = s.problem.isEmpty() && !s.frequencyHz.isEmpty();
    ui->spectrumExport->setEnabled(any);
    QString info = s.rate.end > s.rate.begin ? rateText(s.rate) : QString();
    if (!any) {
        plot->graph(0)->data()->clear();
        info += (info.isEmpty() ? QString() : QStringLiteral("；"))
            + (s.problem.isEmpty() ? tr("时间段内没有报告") : s.problem);
    } else {
        plot->graph(0)->setData(s.frequencyHz, s.densityUvPerSqrtHz, true);
        setLogRange(plot->xAxis, s.frequencyHz, 1.0);
        setLogRange(plot->yAxis, s.densityUvPerSqrtHz, 2.0);
        info += tr("；Welch 法：每段 %1 点，%2 段，Hann 窗，半重叠，分辨率 %3 Hz")
                    .arg(s.segmentLength)
                    .arg(s.segments)
                    .arg(s.frequencyHz.first(), 0, 'g', 3);
    }
    ui->spectrumInfo->setText(info);
    plot->replot();
}

void TrendWindow::showAllan(const AllanDeviation &a)
{
    QCustomPlot *plot = ui->allanPlot;
    const bool any = a.problem.isEmpty() && !a.tauSeconds.isEmpty();
    ui->allanExport->setEnabled(any);
    QString info = a.rate.end > a.rate.begin ? rateText(a.rate) : QString();
    if (!any) {
        plot->graph(0)->data()->clear();
        plot->graph(1)->data()->clear();
        info += (info.isEmpty() ? QString() : QStringLiteral("；"))
            + (a.problem.isEmpty() ? tr("时间段内没有报告") : a.problem);
    } else {
        plot->graph(0)->setData(a.tauSeconds, a.adevMicrovolts, true);
        // Where averaging longer stops helping: what the operator looks for.
        int best = -1;
        for (int i = 0; i < a.adevMicrovolts.size(); ++i) {
            if (a.adevMicrovolts[i] > 0 && (best < 0 || a.adevMicrovolts[i] < a.adevMicrovolts[best]))
                best = i;
        }
        if (best >= 0) {
            plot->graph(1)->setData({a.tauSeconds[best]}, {a.adevMicrovolts[best]}, true);
            info += tr("；最小 %1 µV，在 τ = %2 s").arg(a.adevMicrovolts[best], 0, 'g', 3).arg(a.tauSeconds[best], 0, 'g', 4);
        } else {
            plot->graph(1)->data()->clear();
        }
        setLogRange(plot->xAxis, a.tauSeconds, 1.5);
        setLogRange(plot->yAxis, a.adevMicrovolts, 2.0);
    }
    ui->allanInfo->setText(info);
    plot->replot();
}

bool TrendWindow::exportCsv(Page page, const QString &path) const
{
    if (page == TrendPage || page >= PageCount || !exportOf(page)->isEnabled())
        return false;
    const Result &r = m_pages[size_t(page)].result;
    QByteArray text;
    if (page == HistogramPage) {
        const Histogram &h = r.histogram;
        text = "bin_low_v,bin_high_v,count\n";
        for (int i = 0; i < h.counts.size(); ++i) {
            const qint64 low = h.lowCounts + i * h.binWidthCounts;
            text += (countsAsVolts(low) + QLatin1Char(',') + countsAsVolts(low + h.binWidthCounts) + QLatin1Char(',')
                     + QString::number(h.counts[i]) + QLatin1Char('\n'))
                        .toLatin1();
        }
    } else if (page == SpectrumPage) {
        const Spectrum &s = r.spectrum;
        text = "frequency_hz,density_uv_per_sqrt_hz\n";
        for (int i = 0; i < s.frequencyHz.size(); ++i)
            text += (QString::number(s.frequencyHz[i], 'g', 12) + QLatin1Char(',')
                     + QString::number(s.densityUvPerSqrtHz[i], 'g', 8) + QLatin1Char('\n'))
                        .toLatin1();
    } else {
        const AllanDeviation &a = r.allan;
        text = "tau_s,adev_uv,terms\n";
        for (int i = 0; i < a.tauSeconds.size(); ++i)
            text += (QString::number(a.tauSeconds[i], 'g', 12) + QLatin1Char(',')
                     + QString::number(a.adevMicrovolts[i], 'g', 8) + QLatin1Char(',')
                     + QString::number(i < a.terms.size() ? a.terms[i] : 0) + QLatin1Char('\n'))
                        .toLatin1();
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // A full disk shows only when the buffer goes out.
    const bool written = file.write(text) == text.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

void TrendWindow::exportClicked(Page page)
{
    static const char *const Names[] = {"trend", "histogram", "spectrum", "allan"};
    const QString proposed = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("/orvale-%1-").arg(QLatin1String(Names[page]))
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss'.csv'"));
    const QString path = QFileDialog::getSaveFileName(this, tr("导出 CSV"), proposed, tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportCsv(page, path))
        QMessageBox::warning(this, tr("导出失败"), tr("无法写入 %1").arg(path));
}

void TrendWindow::onCursorButtonToggled(bool on)
{
    if (on) {
        // Placed at a third and two thirds of what is shown; the operator
        // drags them from there.
        const QCPRange range = ui->trendPlot->xAxis->range();
        setCursors(range.lower + range.size() / 3, range.lower + range.size() * 2 / 3);
    } else {
        clearCursors();
    }
}

void TrendWindow::setCursors(double firstS, double secondS)
{
    m_cursorS = {firstS, secondS};
    m_cursorsSet = true;
    {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(true);
    }
    placeCursorLines();
    selectionChanged();
}

void TrendWindow::clearCursors()
{
    {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(false);
    }
    m_dragging = -1;
    if (!m_cursorsSet)
        return;
    m_cursorsSet = false;
    placeCursorLines();
    selectionChanged();
}

bool TrendWindow::hasCursors() const
{
    return m_cursorsSet;
}

void TrendWindow::placeCursorLines()
{
    for (int i = 0; i < 2; ++i) {
        m_cursorLine[i]->setVisible(m_cursorsSet);
        m_cursorLine[i]->point1->setCoords(m_cursorS[size_t(i)], 0);
        m_cursorLine[i]->point2->setCoords(m_cursorS[size_t(i)], 1);
    }
    m_cursorBand->setVisible(m_cursorsSet);
    m_cursorBand->topLeft->setCoords(std::min(m_cursorS[0], m_cursorS[1]), 0);
    m_cursorBand->bottomRight->setCoords(std::max(m_cursorS[0], m_cursorS[1]), 1);
}

bool TrendWindow::cursorMouse(QMouseEvent *event)
{
    QCustomPlot *plot = ui->trendPlot;
    if (!m_cursorsSet)
        return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const double x = event->position().x();
#else
    const double x = event->localPos().x();
#endif
    int nearest = -1;
    for (int i = 0; i < 2; ++i) {
        const double distance = std::abs(plot->xAxis->coordToPixel(m_cursorS[size_t(i)]) - x);
        if (distance <= CursorGrabPixels
            && (nearest < 0 || distance < std::abs(plot->xAxis->coordToPixel(m_cursorS[size_t(nearest)]) - x)))
            nearest = i;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() != Qt::LeftButton || nearest < 0)
            return false;
        m_dragging = nearest;
        return true;
    case QEvent::MouseMove: {
        if (m_dragging < 0) {
            plot->setCursor(nearest >= 0 ? Qt::SizeHorCursor : Qt::ArrowCursor);
            return false;
        }
        const QCPRange range = plot->xAxis->range();
        m_cursorS[size_t(m_dragging)] = std::clamp(plot->xAxis->pixelToCoord(x), range.lower, range.upper);
        placeCursorLines();
        selectionChanged();
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_dragging < 0)
            return false;
        m_dragging = -1;
        return true;
    default:
        return false;
    }
}

void TrendWindow::on_savePlotButton_clicked()
{
    const int page = std::clamp(ui->analysisTabs->currentIndex(), 0, int(PageCount) - 1);
    static const char *const Names[] = {"trend", "histogram", "spectrum", "allan"};
    const QString proposed = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("/orvale-%1-").arg(QLatin1String(Names[page]))
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss'.png'"));
    const QString path = QFileDialog::getSaveFileName(this, tr("保存图片"), proposed, tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!plotOf(Page(page))->savePng(path))
        QMessageBox::warning(this, tr("保存图片失败"), tr("无法写入 %1").arg(path));
}

QCustomPlot *TrendWindow::plotOf(Page page) const
{
    QCustomPlot *const plots[] = {ui->trendPlot, ui->histogramPlot, ui->spectrumPlot, ui->allanPlot};
    return plots[std::clamp(int(page), 0, int(PageCount) - 1)];
}

QLabel *TrendWindow::infoOf(Page page) const
{
    return page == HistogramPage ? ui->histogramInfo : page == SpectrumPage ? ui->spectrumInfo : ui->allanInfo;
}

QPushButton *TrendWindow::exportOf(Page page) const
{
    return page == HistogramPage ? ui->histogramExport : page == SpectrumPage ? ui->spectrumExport : ui->allanExport;
}

// Compiled with this file, so the build reads its headers once.
#include "moc_trendwindow.cpp"
