// SPDX-License-Identifier: GPL-3.0-or-later
// When the trend view's pages are analysed, without a window: only the page
// shown, one analysis of a page at a time, the newest choice winning over
// one still running, and a page following new reports at its pace.

#include "analysisscheduler.h"
#include "reporthistory.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <array>
#include <atomic>

using namespace orvale::analysis;

namespace {

std::array<std::atomic<int>, 2> runs;
std::atomic<int> running{0};
std::atomic<int> mostAtOnce{0};

// Counts its runs and how many overlap; a large span takes long enough that
// a second analysis begun meanwhile would overlap it. Hands back the number
// of reports it was given.
AnalysisResult counting(int page, const SpanData &span)
{
    ++runs[size_t(page)];
    const int now = ++running;
    int most = mostAtOnce;
    while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
    }
    if (qint64(span.values.size()) > AnalysisScheduler::LargeSpanReports)
        QThread::msleep(300);
    AnalysisResult r;
    r.histogram.total = qint64(span.values.size());
    --running;
    return r;
}

// Reports every 100 ms from t = 1000 s.
void fill(ReportHistory &h, qint64 n)
{
    for (qint64 i = h.endIndex(); i < n; ++i)
        h.append(1000000 + i * 100, 370000000u + uint32_t(i % 7), 1);
}

SpanChoice whole()
{
    SpanChoice c;
    c.length = SpanChoice::WholeHistory;
    return c;
}

} // namespace

class TestAnalysisScheduler : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (auto &r : runs)
            r = 0;
        mostAtOnce = 0;
    }

    // Faults: a page analysed while another shows or none does (the window
    // hidden), or a large one analysed after the operator left its page
    // while room for its copy was being made.
    void onlyTheShownPage()
    {
        ReportHistory history;
        fill(history, 1000);
        AnalysisScheduler scheduler(2, &counting);
        QSignalSpy ready(&scheduler, &AnalysisScheduler::resultReady);
        scheduler.setHistory(&history);
        scheduler.setChoice(whole());
        scheduler.update();
        scheduler.setShownPage(AnalysisScheduler::NoPage);
        scheduler.update();
        QCOMPARE(runs[0] + runs[1], 0);
        scheduler.setShownPage(1);
        scheduler.update();
        QCOMPARE(runs[1].load(), 1);
        QCOMPARE(runs[0].load(), 0);
        QCOMPARE(ready.size(), 1);
        QCOMPARE(ready[0][0].toInt(), 1);
        QCOMPARE(scheduler.result(1).histogram.total, qint64(1000));

        ReportHistory large;
        fill(large, 2 * AnalysisScheduler::LargeSpanReports);
        scheduler.setHistory(&large);
        scheduler.setShownPage(0);
        scheduler.update();  // room for page 0's copy is being made
        scheduler.setShownPage(1);
        scheduler.update();
        QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 2, 20000);
        QCOMPARE(ready[1][0].toInt(), 1);
        QCOMPARE(runs[0].load(), 0);
    }

    // Faults: a second analysis of a page begun while the first runs (two
    // workers on one copy), or the result of a span the operator has left
    // shown after he chose another.
    void newestChoiceOneAtATime()
    {
        ReportHistory history;
        fill(history, 3 * AnalysisScheduler::LargeSpanReports);
        AnalysisScheduler scheduler(2, &counting);
        QSignalSpy ready(&scheduler, &AnalysisScheduler::resultReady);
        QSignalSpy analysing(&scheduler, &AnalysisScheduler::analysing);
        scheduler.setHistory(&history);
        scheduler.setChoice(whole());
        scheduler.setShownPage(0);
        scheduler.update();
        QCOMPARE(analysing.size(), 1);
        QCOMPARE(analysing[0][1].toLongLong(), 3 * AnalysisScheduler::LargeSpanReports);
        QTRY_COMPARE(running.load(), 1);

        // From 1000 s to 16000 s: 150,001 reports.
        SpanChoice narrower = whole();
        narrower.cursors = true;
        narrower.firstS = 1000.0;
        narrower.secondS = 16000.0;
        scheduler.setChoice(narrower);
        for (int i = 0; i < 5; ++i)
            scheduler.update();
        QTRY_VERIFY_WITH_TIMEOUT(ready.size() >= 1, 20000);
        QCOMPARE(scheduler.result(0).histogram.total, qint64(150001));
        QCOMPARE(mostAtOnce.load(), 1);
        QCOMPARE(runs[0].load(), 2);
    }

    // Faults: a page analysed again at every refresh as reports arrive
    // (a spectrum a tenth of a second), or never again.
    void followsReportsAtItsPace()
    {
        ReportHistory history;
        fill(history, 1000);
        AnalysisScheduler scheduler(2, &counting);
        scheduler.setHistory(&history);
        scheduler.setChoice(whole());
        scheduler.setShownPage(0);
        scheduler.update();
        fill(history, 1001);
        scheduler.update();
        QCOMPARE(runs[0].load(), 1);
        QTRY_VERIFY((scheduler.update(), runs[0] == 2));
        QCOMPARE(scheduler.result(0).histogram.total, qint64(1001));
    }
};

QTEST_GUILESS_MAIN(TestAnalysisScheduler)
#include "tst_analysisscheduler.moc"
