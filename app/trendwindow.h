// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "spananalysis.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class ReportHistory;
struct SpanStatistics;
class Ui_TrendWindow;
class QCustomPlot;
class QCPItemRect;
class QCPItemStraightLine;
class QLabel;
class QMouseEvent;
class QPushButton;

// The history as a live plot against time of day, with the statistics of
// the span shown and the pages that judge the board over it (histogram,
// noise spectrum, Allan deviation). It only reads the history, which the
// main window fills whether this window is shown or not; closing it hides it.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    // The pages of analysisTabs, in their order.
    enum Page { TrendPage, HistogramPage, SpectrumPage, AllanPage, PageCount };

    // Spans above this many reports are analysed on a worker thread, and
    // refreshed at most every LargeSpanIntervalMs while their page shows.
    static constexpr qint64 LargeSpanReports = 100000;
    static constexpr int LargeSpanIntervalMs = 2000;

    explicit TrendWindow(const ReportHistory *history, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Live (the default): the history grows, the window follows it every
    // 100 ms and can be paused. Off for a history that no longer grows (a
    // recording read back): no timer and no pause, it draws when shown, when
    // the operator changes what it shows, and on refresh().
    void setLive(bool live);
    bool isLive() const { return m_live; }

    // Shows another history from now on (a recording once it has been read);
    // cursors and a pause, which stood for reports of the old one, go.
    void setHistory(const ReportHistory *history);

    // Draws the plot, the statistics and the page shown from the history now
    // (each only if what it covers has changed).
    void refresh();

    // Writes what an analysis page shows as CSV; false when there is nothing
    // to write or the file cannot be written.
    bool exportCsv(Page page, const QString &path) const;

    // The two cursors' times (seconds since the epoch, as the plot's axis),
    // for a caller that places them without the mouse; clearCursors() as
    // unchecking cursorButton.
    void setCursors(double firstS, double secondS);
    void clearCursors();
    bool hasCursors() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_savePlotButton_clicked();

private:
    // One analysis of one span, as a worker hands it back.
    struct Result
    {
        orvale::analysis::Histogram histogram;
        orvale::analysis::Spectrum spectrum;
        orvale::analysis::AllanDeviation allan;
        qint64 tookMs = 0;
        // Room for the span's copy, made on the worker: the first touch of
        // 10 MB of fresh pages costs tens of milliseconds, which the GUI
        // thread should not wait for.
        std::shared_ptr<orvale::analysis::SpanData> room;
    };
    // What each analysis page has shown and is working on.
    struct PageState
    {
        QFutureWatcher<Result> *watcher = nullptr;
        bool busy = false;
        bool allocating = false;      // the worker is making room for the copy, not analysing
        bool shown = false;           // a result is on the page
        quint64 generation = 0;       // of the selection of the newest analysis begun
        quint64 shownGeneration = 0;  // of the selection of the result shown
        qint64 begin = -1, end = -1;
        QElapsedTimer started;
        bool large = false;
        qint64 tookMs = 0;
        Result result;
        // Room for the copy of a large span, kept while the page shows so
        // each refresh copies into memory already touched.
        std::shared_ptr<orvale::analysis::SpanData> room;
    };

    void onPauseToggled(bool paused);
    void onSpanChosen();
    void onCursorButtonToggled(bool on);
    void onFullScaleChanged(double volts);
    void selectionChanged();
    // The reports the window covers: the span chosen, or between the cursors.
    void currentSpan(qint64 &begin, qint64 &end) const;
    void drawTrend(qint64 spanBegin, qint64 end, qint64 beginMs, qint64 endMs);
    void showStatistics(const SpanStatistics &s);
    static Result analyse(Page page, const orvale::analysis::SpanData &span);
    void updatePage(Page page, qint64 begin, qint64 end);
    void startAnalysis(Page page, qint64 begin, qint64 end);
    void copyAndAnalyse(Page page);
    void analysisFinished(Page page);
    void showResult(Page page);
    void showHistogram(const orvale::analysis::Histogram &h);
    void showSpectrum(const orvale::analysis::Spectrum &s);
    void showAllan(const orvale::analysis::AllanDeviation &a);
    void exportClicked(Page page);
    void placeCursorLines();
    bool cursorMouse(QMouseEvent *event);

    QCustomPlot *plotOf(Page page) const;
    QLabel *infoOf(Page page) const;
    QPushButton *exportOf(Page page) const;

    Ui_TrendWindow *ui = nullptr;
    const ReportHistory *m_history = nullptr;
    bool m_live = true;
    QTimer m_refreshTimer;
    // While paused the view ends where it ended when the pause began.
    qint64 m_frozenEnd = -1;
    qint64 m_drawnEnd = -1;
    quint64 m_drawnGeneration = ~quint64(0);
    qint64 m_plotEnd = -1;
    quint64 m_plotGeneration = ~quint64(0);
    // Counts changes of what the window covers other than reports arriving
    // (span, cursors, pause), so a page knows to follow them at once.
    quint64 m_generation = 0;

    bool m_cursorsSet = false;
    std::array<double, 2> m_cursorS = {0, 0};
    int m_dragging = -1;  // the cursor being dragged
    QCPItemStraightLine *m_cursorLine[2] = {nullptr, nullptr};
    QCPItemRect *m_cursorBand = nullptr;

    std::array<PageState, PageCount> m_pages;
};
