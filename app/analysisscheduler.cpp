// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysisscheduler.h"

#include "reporthistory.h"

#include <QtConcurrentRun>

#include <algorithm>

using namespace orvale::analysis;

namespace {

// A page over a small span follows new reports once a second: faster, a
// spectrum only flickers with the variance of its estimate.
constexpr int SmallSpanIntervalMs = 1000;
// A worker's analysis may take at most this share of the time between two
// (spans so long that even the 2 s interval would keep a core busy).
constexpr int AnalysisDutyDivisor = 8;

} // namespace

AnalysisScheduler::AnalysisScheduler(int pages, Analysis analysis, QObject *parent)
    : QObject(parent), m_analysis(analysis), m_pages(size_t(std::max(0, pages)))
{
    for (size_t page = 0; page < m_pages.size(); ++page) {
        PageState &p = m_pages[page];
        p.watcher = std::make_unique<QFutureWatcher<AnalysisResult>>();
        connect(p.watcher.get(), &QFutureWatcher<AnalysisResult>::finished, this,
                [this, page] { finished(int(page)); });
    }
}

AnalysisScheduler::~AnalysisScheduler()
{
    // A worker still running holds its own copy of the span and nothing of
    // this object; only its report back must not arrive.
    for (PageState &p : m_pages)
        disconnect(p.watcher.get(), nullptr, this, nullptr);
}

void AnalysisScheduler::setHistory(const ReportHistory *history)
{
    m_history = history;
    ++m_generation;
}

void AnalysisScheduler::setChoice(const SpanChoice &choice)
{
    if (choice == m_choice)
        return;
    m_choice = choice;
    ++m_generation;
}

void AnalysisScheduler::setShownPage(int page)
{
    m_shown = page >= 0 && page < int(m_pages.size()) ? page : NoPage;
    for (int other = 0; other < int(m_pages.size()); ++other) {
        if (other != m_shown)
            m_pages[size_t(other)].room.reset();
    }
}

void AnalysisScheduler::update()
{
    if (m_shown == NoPage || !m_history)
        return;
    PageState &p = m_pages[size_t(m_shown)];
    // Never two of one page at once: its report back looks again.
    if (p.busy)
        return;
    qint64 begin = 0, end = 0;
    m_choice.covered(*m_history, begin, end);
    const bool sameChoice = p.shown && p.generation == m_generation;
    if (sameChoice && p.begin == begin && p.end == end)
        return;
    if (sameChoice && p.started.isValid()) {
        const qint64 interval = p.large ? std::max<qint64>(LargeSpanIntervalMs, AnalysisDutyDivisor * p.tookMs)
                                        : SmallSpanIntervalMs;
        if (p.started.elapsed() < interval)
            return;
    }
    start(m_shown, begin, end);
}

void AnalysisScheduler::start(int page, qint64 begin, qint64 end)
{
    PageState &p = m_pages[size_t(page)];
    p.generation = m_generation;
    p.begin = begin;
    p.end = end;
    p.large = end - begin > LargeSpanReports;
    p.started.start();
    if (!p.large) {
        p.result = m_analysis(page, copySpan(*m_history, begin, end));
        p.tookMs = p.started.elapsed();
        show(page);
        return;
    }
    p.busy = true;
    if (!p.shown || p.shownGeneration != m_generation)
        emit analysing(page, end - begin);
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
        AnalysisResult r;
        r.room = std::make_shared<SpanData>();
        r.room->values.resize(room);
        return r;
    }));
}

void AnalysisScheduler::copyAndAnalyse(int page)
{
    PageState &p = m_pages[size_t(page)];
    p.allocating = false;
    // The operator has moved on, or the page is no longer shown: nothing
    // to analyse; update() starts what is now wanted.
    if (p.generation != m_generation || m_shown != page) {
        p.busy = false;
        if (m_shown != page)
            p.room.reset();
        return;
    }
    qint64 begin = 0, end = 0;
    m_choice.covered(*m_history, begin, end);
    // The copy is taken here, on the thread that writes the history; the
    // worker only reads it, and this thread writes it again only once the
    // worker has finished (busy).
    copySpan(*m_history, begin, end, *p.room);
    p.begin = begin;
    p.end = end;
    p.watcher->setFuture(QtConcurrent::run([analysis = m_analysis, page, span = std::shared_ptr<const SpanData>(p.room)] {
        QElapsedTimer timer;
        timer.start();
        AnalysisResult r = analysis(page, *span);
        r.tookMs = timer.elapsed();
        return r;
    }));
}

void AnalysisScheduler::finished(int page)
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
            show(page);
        }
    }
    // The choice may have moved on while it ran.
    update();
}

void AnalysisScheduler::show(int page)
{
    PageState &p = m_pages[size_t(page)];
    p.shown = true;
    p.shownGeneration = p.generation;
    emit resultReady(page);
}

// Compiled with this file, so the build reads its headers once.
#include "moc_analysisscheduler.cpp"
