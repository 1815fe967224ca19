// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analysisscheduler.h"

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>

class QCPAxis;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QPen;
class QPushButton;

// One analysis page of the trend view: it puts a result of its analysis on
// its plot and its line of text, in the window's words, and exports what it
// shows. The scheduler decides when the analysis runs; the page only shows.
class AnalysisPage : public QObject
{
    Q_OBJECT

public:
    // The form's widgets of the page.
    struct Widgets
    {
        QCustomPlot *plot = nullptr;
        QLabel *info = nullptr;
        QPushButton *exportButton = nullptr;
    };
    // What sets one page apart beside its drawing.
    struct Kind
    {
        const char *name = nullptr;  // in the names of its files
        QByteArray (*csv)(const AnalysisResult &result) = nullptr;
        // Why nothing shows when the span has too few reports, untranslated,
        // %1 the reports needed; without one, that the span holds none.
        const char *tooFewText = nullptr;
    };

    AnalysisPage(const Widgets &widgets, const Kind &kind, QObject *parent = nullptr);

    // A Kind's csv: one part of a result in its analysis's format.
    template<auto Part, auto Format>
    static QByteArray rows(const AnalysisResult &result)
    {
        return Format(result.*Part);
    }

    void show(const AnalysisResult &result);
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
    // Draws a result with something to show (after showNothing() said no).
    virtual void render(const AnalysisResult &result) = 0;

    void setUpPlot(const QString &xLabel, const QString &yLabel, bool logLog);
    QCPGraph *addGraph(const QString &name, const QPen &pen);
    static void setLogRange(QCPAxis *axis, const QVector<double> &values, double marginFactor);
    // The sample rate used and the reports analysed; empty without reports.
    static QString rateText(const orvale::analysis::RateChoice &rate);
    // With nothing to show (`empty`, or a problem), clears the plot and says
    // why, after the rate if there is one; true when it did.
    bool showNothing(const orvale::analysis::RateChoice &rate, const orvale::analysis::AnalysisProblem &problem,
                     bool empty);
    // Shows the line of text and the plot drawn; `exportable` enables the export.
    void finish(const QString &info, bool exportable);

    // The colours of the data and of what is fitted to it or marked on it.
    static QColor dataColour() { return QColor(0x1f, 0x5f, 0xbf); }
    static QColor fitColour() { return QColor(0xd0, 0x40, 0x20); }

    QCustomPlot *m_plot = nullptr;

private:
    void exportClicked();

    QLabel *m_info = nullptr;
    QPushButton *m_export = nullptr;
    Kind m_kind;
    AnalysisResult m_shown;
};
