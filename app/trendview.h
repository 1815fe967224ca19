// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysisscheduler.h"
#include "spanchoice.h"

#include <QTimer>
#include <QWidget>

#include <array>

class AnalysisPage;
class ReportHistory;
struct SpanStatistics;
class Ui_TrendWindow;

// The history as a live plot against time of day, with the figures of the
// span chosen and the pages that judge the board over it (histogram, noise
// spectrum, Allan deviation). It only reads the history, which is filled
// whether this view is shown or not. A window shows it: the trend window
// the live history, a recording window a recording read back.
class QHBoxLayout;

class TrendView : public QWidget
{
    Q_OBJECT

public:
    // The pages of analysisTabs, in their order.
    enum Page { TrendPage, HistogramPage, SpectrumPage, AllanPage, PageCount };

    static constexpr qint64 LargeSpanReports = AnalysisScheduler::LargeSpanReports;

    explicit TrendView(const ReportHistory *history, QWidget *parent = nullptr);
    ~TrendView() override;

    // Lays `window` out as this view under a row of the window's own, in
    // from the edges as far as the view's controls, and sizes it to the
    // view; the row is returned for the window's widgets.
    QHBoxLayout *placeUnderRow(QWidget *window);

    // Live (the default): the history grows, the view follows it every
    // 100 ms and can be paused. Off for a history that no longer grows (a
    // recording read back): no timer and no pause, it draws when shown, when
    // the operator changes what it shows, and on refresh().
    void setLive(bool live);
    bool isLive() const { return m_live; }

    // Shows another history from now on (a recording once it has been read);
    // cursors and a pause, which stood for reports of the old one, go.
    void setHistory(const ReportHistory *history);
    // Chooses the whole history as the span, as the operator can.
    void showWholeHistory();

    // Draws the plot, the figures and the page shown from the history now
    // (each only if what it covers has changed).
    void refresh();

    // Writes what an analysis page shows as CSV; false when there is nothing
    // to write or the file cannot be written.
    [[nodiscard]] bool exportCsv(Page page, const QString &path) const;

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
    void onPauseToggled(bool paused);
    void onSpanChosen();
    void onCursorButtonToggled(bool on);
    void onFullScaleChanged(double volts);
    SpanChoice currentChoice() const;
    void showStatistics(const SpanStatistics &s, const SpanChoice &choice);

    Ui_TrendWindow *ui = nullptr;
    const ReportHistory *m_history = nullptr;
    bool m_live = true;
    QTimer m_refreshTimer;
    // While paused the view ends where it ended when the pause began.
    qint64 m_frozenEnd = -1;
    // What the figures and the plot were drawn for; an end of -1 draws again.
    qint64 m_drawnEnd = -1;
    SpanChoice m_drawnChoice;
    qint64 m_plotEnd = -1;
    SpanChoice m_plotChoice;

    AnalysisScheduler *m_scheduler = nullptr;
    // The analysis pages, HistogramPage first.
    std::array<AnalysisPage *, PageCount - 1> m_pages = {};
};
