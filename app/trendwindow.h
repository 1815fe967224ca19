// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QWidget>

class ReportHistory;
struct SpanStatistics;
class Ui_TrendWindow;

// The history as a live plot against time of day, with the statistics of
// the span shown. It only reads the history, which the main window fills
// whether this window is shown or not; closing it hides it.
class TrendWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendWindow(const ReportHistory *history, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Draws the plot and the statistics from the history now.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void on_savePlotButton_clicked();

private:
    void onPauseToggled(bool paused);
    void showStatistics(const SpanStatistics &s);

    Ui_TrendWindow *ui = nullptr;
    const ReportHistory *m_history = nullptr;
    QTimer m_refreshTimer;
    // While paused the view ends where it ended when the pause began.
    qint64 m_frozenEnd = -1;
    qint64 m_drawnEnd = -1;
    int m_drawnSpan = -1;
};
