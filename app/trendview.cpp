// SPDX-License-Identifier: GPL-3.0-or-later
#include "trendview.h"
#include "ui_trendwindow.h"

#include "allanview.h"
#include "commframe.h"
#include "histogramview.h"
#include "reporthistory.h"
#include "noisedensityview.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QStyle>

#include <algorithm>
#include <cmath>

using namespace orvale::analysis;

namespace {

constexpr int RefreshIntervalMs = 100;
const QString FullScaleKey = QStringLiteral("trendWindow/fullScaleVolts");

// The analysis of each analysis page (HistogramPage first), as the
// scheduler runs it.
AnalysisResult analyse(int page, const SpanData &span)
{
    AnalysisResult r;
    switch (TrendView::Page(page + 1)) {
    case TrendView::HistogramPage:
        r.histogram = histogram(span);
        break;
    case TrendView::SpectrumPage:
        r.spectrum = noiseSpectrum(span);
        break;
    case TrendView::AllanPage:
        r.allan = allanDeviation(span);
        break;
    default:
        break;
    }
    return r;
}

} // namespace

TrendView::TrendView(const ReportHistory *history, QWidget *parent)
    : QWidget(parent), ui(new Ui_TrendWindow), m_history(history)
{
    ui->setupUi(this);
    m_pages = {new HistogramView({ui->histogramPlot, ui->histogramInfo, ui->histogramExport}, this),
               new NoiseDensityView({ui->spectrumPlot, ui->spectrumInfo, ui->spectrumExport}, this),
               new AllanView({ui->allanPlot, ui->allanInfo, ui->allanExport}, this)};
    m_scheduler = new AnalysisScheduler(int(m_pages.size()), &analyse, this);
    m_scheduler->setHistory(m_history);
    connect(m_scheduler, &AnalysisScheduler::analysing, this,
            [this](int page, qint64 reports) { m_pages[size_t(page)]->showAnalysing(reports); });
    connect(m_scheduler, &AnalysisScheduler::resultReady, this,
            [this](int page) { m_pages[size_t(page)]->show(m_scheduler->result(page)); });

    {
        const QSignalBlocker blocker(ui->fullScaleSpin);
        ui->fullScaleSpin->setValue(QSettings().value(FullScaleKey, 5.0).toDouble());
    }

    m_refreshTimer.setInterval(RefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &TrendView::refresh);
    connect(ui->trendSpan, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TrendView::onSpanChosen);
    connect(ui->trendPause, &QCheckBox::toggled, this, &TrendView::onPauseToggled);
    connect(ui->cursorButton, &QPushButton::toggled, this, &TrendView::onCursorButtonToggled);
    connect(ui->trendPlot, &TrendPlot::cursorsDragged, this, &TrendView::refresh);
    connect(ui->fullScaleSpin, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &TrendView::onFullScaleChanged);
    connect(ui->analysisTabs, &QTabWidget::currentChanged, this, &TrendView::refresh);
}

TrendView::~TrendView()
{
    delete ui;
}

void TrendView::setLive(bool live)
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

void TrendView::setHistory(const ReportHistory *history)
{
    m_history = history;
    m_scheduler->setHistory(history);
    ui->trendPause->setChecked(false);
    m_frozenEnd = -1;
    clearCursors();
    m_drawnEnd = -1;
    m_plotEnd = -1;
    refresh();
}

void TrendView::showWholeHistory()
{
    ui->trendSpan->setCurrentIndex(SpanChoice::WholeHistory);
}

void TrendView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    if (m_live)
        m_refreshTimer.start();
}

void TrendView::hideEvent(QHideEvent *event)
{
    // Hidden, it costs nothing: the history goes on filling without it.
    m_refreshTimer.stop();
    m_scheduler->setShownPage(AnalysisScheduler::NoPage);
    QWidget::hideEvent(event);
}

void TrendView::onPauseToggled(bool paused)
{
    m_frozenEnd = paused ? m_history->endIndex() : -1;
    refresh();
}

void TrendView::onSpanChosen()
{
    clearCursors();
    refresh();
}

void TrendView::onFullScaleChanged(double volts)
{
    QSettings().setValue(FullScaleKey, volts);
    m_drawnEnd = -1;
    refresh();
}

SpanChoice TrendView::currentChoice() const
{
    SpanChoice choice;
    choice.length = ui->trendSpan->currentIndex();
    choice.frozenEnd = m_frozenEnd;
    choice.cursors = ui->trendPlot->hasCursors();
    choice.firstS = ui->trendPlot->cursorS(0);
    choice.secondS = ui->trendPlot->cursorS(1);
    return choice;
}

void TrendView::refresh()
{
    SpanChoice choice = currentChoice();
    const SpanChoice::Stretch stretch = choice.stretch(*m_history);
    // Cursors that the live view has scrolled past (or whose reports the
    // history has let go) would stand for reports no longer shown.
    if (choice.cursorsBefore(stretch)) {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(false);
        ui->trendPlot->clearCursors();
        choice = currentChoice();
    }

    const int page = ui->analysisTabs->currentIndex();
    if (stretch.end != m_drawnEnd || choice != m_drawnChoice) {
        m_drawnEnd = stretch.end;
        m_drawnChoice = choice;
        qint64 begin = 0, end = 0;
        choice.covered(*m_history, begin, end);
        showStatistics(m_history->statistics(begin, end), choice);
    }
    // The plot is drawn only while its page shows: over the whole history
    // each drawing costs more than the figures.
    if (page == TrendPage && (stretch.end != m_plotEnd || choice != m_plotChoice)) {
        m_plotEnd = stretch.end;
        m_plotChoice = choice;
        ui->trendPlot->showStretch(*m_history, stretch);
    }
    m_scheduler->setChoice(choice);
    m_scheduler->setShownPage(isVisible() && page > TrendPage ? page - 1 : AnalysisScheduler::NoPage);
    m_scheduler->update();
}

void TrendView::showStatistics(const SpanStatistics &s, const SpanChoice &choice)
{
    const QString volts = QStringLiteral(" V");
    const QString microvolts = QStringLiteral(" µV");
    ui->statCount->setText(QString::number(s.count) + tr(" 条"));
    ui->statRate->setText(QString::number(s.ratePerSecond, 'f', 1) + QStringLiteral(" /s"));
    ui->cursorInterval->setText(choice.cursors ? QString::number(std::abs(choice.secondS - choice.firstS), 'f', 3)
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

bool TrendView::exportCsv(Page page, const QString &path) const
{
    if (page <= TrendPage || page >= PageCount)
        return false;
    return m_pages[size_t(page) - 1]->exportCsv(path);
}

void TrendView::onCursorButtonToggled(bool on)
{
    if (on) {
        ui->trendPlot->placeCursorsInThirds();
        refresh();
    } else {
        clearCursors();
    }
}

void TrendView::setCursors(double firstS, double secondS)
{
    ui->trendPlot->setCursors(firstS, secondS);
    {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(true);
    }
    refresh();
}

void TrendView::clearCursors()
{
    {
        const QSignalBlocker blocker(ui->cursorButton);
        ui->cursorButton->setChecked(false);
    }
    const bool wereSet = ui->trendPlot->hasCursors();
    ui->trendPlot->clearCursors();
    if (wereSet)
        refresh();
}

bool TrendView::hasCursors() const
{
    return ui->trendPlot->hasCursors();
}

void TrendView::on_savePlotButton_clicked()
{
    static const char *const Names[] = {"trend", "histogram", "spectrum", "allan"};
    const int page = std::clamp(ui->analysisTabs->currentIndex(), 0, int(PageCount) - 1);
    QCustomPlot *plot = page == TrendPage ? ui->trendPlot : m_pages[size_t(page) - 1]->plot();
    const QString path = QFileDialog::getSaveFileName(
        this, tr("保存图片"), AnalysisPage::proposedPath(QLatin1String(Names[page]), QStringLiteral(".png")),
        tr("PNG 图片 (*.png)"));
    if (path.isEmpty())
        return;
    if (!plot->savePng(path))
        QMessageBox::warning(this, tr("保存图片失败"), tr("无法写入 %1").arg(path));
}

// Compiled with this file, so the build reads its headers once.
QHBoxLayout *TrendView::placeUnderRow(QWidget *window)
{
    // The style's margins of a window's layout, which the view's own
    // controls sit in from; none below the row, the view has its own.
    auto *row = new QHBoxLayout;
    const QStyle *style = window->style();
    row->setContentsMargins(style->pixelMetric(QStyle::PM_LayoutLeftMargin),
                            style->pixelMetric(QStyle::PM_LayoutTopMargin),
                            style->pixelMetric(QStyle::PM_LayoutRightMargin), 0);
    auto *top = new QVBoxLayout(window);
    top->setContentsMargins(0, 0, 0, 0);
    top->addLayout(row);
    top->addWidget(this);
    window->resize(size());
    return row;
}

#include "moc_trendview.cpp"
