// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysisscheduler.h"

#include <QColor>
#include <QObject>
#include <QString>

class QCPAxis;
class QCustomPlot;
class QLabel;
class QPushButton;

// One analysis page of the trend view: it puts a result of its analysis on
// its plot and its line of text, in the window's words, and exports what it
// shows. The scheduler decides when the analysis runs; the page only shows.
class AnalysisPage : public QObject
{
    Q_OBJECT

public:
    // The widgets are the form's; `name` is the page's in file names.
    AnalysisPage(QCustomPlot *plot, QLabel *info, QPushButton *exportButton, const char *name,
                 QObject *parent = nullptr);

    // The analysis as the scheduler runs it (on a worker for a large span).
    [[nodiscard]] virtual AnalysisScheduler::Analysis analysis() const = 0;
    virtual void show(const AnalysisResult &result) = 0;
    // A large span is being analysed: what shows meanwhile is not exported.
    void showAnalysing(qint64 reports);

    // Writes what the page shows as CSV; false when there is nothing to
    // write or the file cannot be written.
    [[nodiscard]] bool exportCsv(const QString &path) const;

    QCustomPlot *plot() const { return m_plot; }
    // Where a file of `what` (a page's name) is proposed: the documents
    // folder, named for what it holds and when.
    static QString proposedPath(const QString &what, const QString &suffix);

protected:
    [[nodiscard]] virtual QByteArray csv() const = 0;
    // Why nothing shows when the analysis has too few reports; by default
    // that the span holds none (all a histogram needs is one).
    [[nodiscard]] virtual QString tooFewText(qint64 reportsNeeded) const;

    void setUpPlot(const QString &xLabel, const QString &yLabel, bool logLog);
    static void setLogRange(QCPAxis *axis, const QVector<double> &values, double marginFactor);
    // The sample rate used and the reports analysed; empty without reports.
    static QString rateText(const orvale::analysis::RateChoice &rate);
    // The colours of the data and of what is fitted to it or marked on it.
    static QColor dataColour() { return QColor(0x1f, 0x5f, 0xbf); }
    static QColor fitColour() { return QColor(0xd0, 0x40, 0x20); }
    // Shows `info` (if any) and why there is nothing to show; the plot's
    // data is cleared by the page before.
    void showNothing(QString info, const orvale::analysis::AnalysisProblem &problem);
    // Shows the line of text and the plot drawn; `exportable` enables the export.
    void finish(const QString &info, bool exportable);

    QCustomPlot *m_plot = nullptr;
    QLabel *m_info = nullptr;
    QPushButton *m_export = nullptr;

private:
    void exportClicked();
    static QString noReportsText();

    QString m_name;
};
