// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFutureWatcher>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class ReportHistory;
class TrendView;

// A recording read back, in a window of its own with a trend view: every
// figure, page, export and cursor of the trend window over the file's
// reports, no live data. Several files (the logger's rotated ones, plain or
// compressed) are one recording, their rows in time order. The files are
// read on a worker thread, so the main
// window goes on receiving meanwhile; the window shows the progress and can
// cancel it. It owns its history, which goes when the window is closed.
class RecordingWindow : public QWidget
{
    Q_OBJECT

public:
    // Starts reading `paths` (at least one) at once.
    explicit RecordingWindow(const QStringList &paths, QWidget *parent = nullptr);
    ~RecordingWindow() override;

    bool isLoading() const;

signals:
    // The file's reports are shown.
    void loaded();
    // The file could not be read (not for a cancel); the window closes.
    void failed(const QString &reason);

private:
    struct Load;

    void showProgress();
    void loadFinished();

    // Shared with the worker, which may outlive a window closed while it reads.
    std::shared_ptr<Load> m_load;
    std::unique_ptr<ReportHistory> m_history;
    TrendView *m_view = nullptr;
    QFutureWatcher<void> m_watcher;
    QTimer m_progressTimer;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_cancel = nullptr;
    QLabel *m_skipped = nullptr;
};
