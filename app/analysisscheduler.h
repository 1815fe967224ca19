// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "spananalysis.h"
#include "spanchoice.h"

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>

#include <memory>
#include <vector>

class ReportHistory;

// What one analysis of a span hands back; each page fills and reads its own part.
struct AnalysisResult
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

// Decides when each analysis page works out its analysis of the span chosen,
// without widgets: only the page it is told shows, never two analyses of one
// page at once, a newer choice superseding an older one still running, a
// small span at once and at most once a second, a large one on a worker and
// at most every LargeSpanIntervalMs (longer when it takes long). The history
// is read and copied only on the thread that owns this object.
class AnalysisScheduler : public QObject
{
    Q_OBJECT

public:
    // The analysis of a page (numbered from 0), run on a worker for a large span.
    using Analysis = AnalysisResult (*)(int page, const orvale::analysis::SpanData &span);

    // Spans above this many reports are analysed on a worker thread, and
    // refreshed at most every LargeSpanIntervalMs while their page shows.
    static constexpr qint64 LargeSpanReports = 100000;
    static constexpr int LargeSpanIntervalMs = 2000;
    static constexpr int NoPage = -1;

    AnalysisScheduler(int pages, Analysis analysis, QObject *parent = nullptr);
    ~AnalysisScheduler() override;

    void setHistory(const ReportHistory *history);
    // A choice other than the last is the operator's: a page follows it at once.
    void setChoice(const SpanChoice &choice);
    // The page on screen, or NoPage; only it is analysed, and only it keeps
    // its room for a copy (10 MB over the full history).
    void setShownPage(int page);
    int shownPage() const { return m_shown; }

    // Starts what the shown page needs now, if anything.
    void update();

    // The newest result shown of a page (valid after resultReady).
    const AnalysisResult &result(int page) const { return m_pages[size_t(page)].result; }

signals:
    // A large span's analysis began for a choice the page does not show yet.
    void analysing(int page, qint64 reports);
    // A result for the current choice is ready: result(page).
    void resultReady(int page);

private:
    struct PageState
    {
        std::unique_ptr<QFutureWatcher<AnalysisResult>> watcher;
        bool busy = false;
        bool allocating = false;      // the worker is making room for the copy, not analysing
        bool shown = false;           // a result is on the page
        quint64 generation = 0;       // of the choice of the newest analysis begun
        quint64 shownGeneration = 0;  // of the choice of the result shown
        qint64 begin = -1, end = -1;
        QElapsedTimer started;
        bool large = false;
        qint64 tookMs = 0;
        AnalysisResult result;
        // Room for the copy of a large span, kept while the page shows so
        // each refresh copies into memory already touched.
        std::shared_ptr<orvale::analysis::SpanData> room;
    };

    void start(int page, qint64 begin, qint64 end);
    void copyAndAnalyse(int page);
    void finished(int page);
    void show(int page);

    Analysis m_analysis = nullptr;
    const ReportHistory *m_history = nullptr;
    SpanChoice m_choice;
    // Counts the operator's changes of what is covered (choice, history).
    quint64 m_generation = 0;
    int m_shown = NoPage;
    std::vector<PageState> m_pages;
};
