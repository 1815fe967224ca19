// SPDX-License-Identifier: GPL-3.0-or-later
#include "recordingwindow.h"

#include "failuretexts.h"
#include "recordingreader.h"
#include "reporthistory.h"
#include "trendview.h"

#include <QBoxLayout>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtConcurrentRun>

#include <atomic>

namespace {

// What the window shows until the file is read: no reports.
const ReportHistory &noReports()
{
    static const ReportHistory empty(1);
    return empty;
}

} // namespace

// The worker writes the result before its future finishes; the window reads
// it only after, so only the progress and the cancel cross threads meanwhile.
struct RecordingWindow::Load
{
    std::atomic<bool> cancel{false};
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::unique_ptr<ReportHistory> history;
    qint64 skipped = 0;
    QString error;
    bool cancelled = false;
};

RecordingWindow::RecordingWindow(const QStringList &paths, QWidget *parent)
    : QWidget(parent, Qt::Window), m_load(std::make_shared<Load>()), m_view(new TrendView(&noReports(), this))
{
    setObjectName(QStringLiteral("recordingWindow"));
    const QString first = QFileInfo(paths.value(0)).fileName();
    setWindowTitle(paths.size() > 1 ? tr("趋势图 — %1 等 %2 个文件").arg(first).arg(paths.size())
                                    : tr("趋势图 — ") + first);
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while this one is shown.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_view->setLive(false);
    // A recording is looked at as a whole first; the shorter spans count
    // back from its last row.
    m_view->showWholeHistory();

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("recordingProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setFormat(tr("正在读取记录… %p%"));
    m_cancel = new QPushButton(tr("取消"), this);
    m_cancel->setObjectName(QStringLiteral("recordingCancel"));
    m_skipped = new QLabel(this);
    m_skipped->setObjectName(QStringLiteral("recordingSkipped"));
    m_skipped->hide();
    QHBoxLayout *row = m_view->placeUnderRow(this);
    row->addWidget(m_progress, 1);
    row->addWidget(m_cancel);
    row->addWidget(m_skipped);
    row->addStretch();

    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_load->cancel = true;
        m_cancel->setEnabled(false);
    });
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, &RecordingWindow::showProgress);
    m_progressTimer.start();
    connect(&m_watcher, &QFutureWatcher<void>::finished, this, &RecordingWindow::loadFinished);

    std::shared_ptr<Load> load = m_load;
    m_watcher.setFuture(QtConcurrent::run([load, paths] {
        RecordingReader reader(&load->cancel);
        reader.setProgressHandler([&load](qint64 done, qint64 total) {
            load->total.store(total, std::memory_order_relaxed);
            load->done.store(done, std::memory_order_relaxed);
        });
        // One file is read as it always was; several name the one that failed.
        if (paths.size() == 1 ? reader.readFile(paths.first()) : reader.readFiles(paths))
            load->history = reader.takeHistory();
        load->skipped = reader.skippedLines();
        load->error = orvale::readerFailureText(reader.failure());
        if (paths.size() > 1 && !reader.failedFile().isEmpty())
            load->error = QFileInfo(reader.failedFile()).fileName() + QStringLiteral("：") + load->error;
        load->cancelled = reader.wasCancelled();
    }));
}

RecordingWindow::~RecordingWindow()
{
    // Closed while reading: the worker stops at its next block and frees
    // what it read with the shared state.
    m_load->cancel = true;
    disconnect(&m_watcher, nullptr, this, nullptr);
}

bool RecordingWindow::isLoading() const
{
    return m_progressTimer.isActive();
}

void RecordingWindow::showProgress()
{
    const qint64 total = m_load->total.load(std::memory_order_relaxed);
    if (total > 0)
        m_progress->setValue(int(m_load->done.load(std::memory_order_relaxed) * 1000 / total));
}

void RecordingWindow::loadFinished()
{
    m_progressTimer.stop();
    m_progress->hide();
    m_cancel->hide();
    if (!m_load->history) {
        if (!m_load->cancelled)
            emit failed(m_load->error);
        close();
        return;
    }
    m_history = std::move(m_load->history);
    m_skipped->setText(tr("跳过 %1 行").arg(m_load->skipped));
    m_skipped->show();
    m_view->setHistory(m_history.get());
    emit loaded();
}

// Compiled with this file, so the build reads its headers once.
#include "moc_recordingwindow.cpp"
