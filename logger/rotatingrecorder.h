// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commframe.h"
#include "csvrecorder.h"
#include "recordingfolder.h"
#include "rotation.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The logger's recording: every report as one row in the window's recorder
// format, in files of the folder that begin anew at each rotation (each with
// its header). A row goes to exactly one file, in order: the file is switched
// between two rows, never within the pending ones. The current file is plain
// CSV, written and synced at least once a second, whole rows only.
//
// A write that fails (a full disk, a size limit) keeps every whole row that
// reached the file, reports the system's reason and drops reports, counted,
// until a try every 10 s succeeds; then it reports how many were lost. It
// never gives up.
class RotatingRecorder : public QObject
{
    Q_OBJECT

public:
    RotatingRecorder(const RecordingFolder &folder, const Rotation &rotation, QObject *parent = nullptr);
    ~RotatingRecorder() override;

    // The wall clock the idle check of the hour or day boundary reads (tests
    // give their own); rows carry their own times.
    void setClock(std::function<qint64()> utcNowMs) { m_clock = std::move(utcNowMs); }
    void setRetryInterval(int ms) { m_retry.setInterval(ms); }

    // A row for the report; the first row after stop() or a boundary opens a file.
    void append(const Arrival &at, const COMM_UART_OBJ &report);
    // Writes and syncs what is pending; false when the write failed.
    bool flush();
    // Closes the current file now (SIGHUP); the next report begins a new one.
    void rotateNow();
    // Writes what is pending and closes the file.
    void stop();

    QString currentFile() const { return m_path; }
    qint64 rowsWritten() const { return m_rowsWritten; }
    qint64 reportsLost() const { return m_lostTotal; }
    bool isBlocked() const { return m_blocked; }

signals:
    // Before the file is made, so a sweep never takes it for a closed one.
    void fileOpening(const QString &path);
    // A file fully written and closed, ready for compression.
    void fileClosed(const QString &path);
    void message(int priority, const QString &text);

private:
    bool openFile(qint64 utcMs);
    void closeFile();
    void blocked(const QString &reason, qint64 lost);
    void tick();

    RecordingFolder m_folder;
    Rotation m_rotation;
    std::function<qint64()> m_clock;
    QTimer m_flushTimer;
    QTimer m_retry;
    QString m_path;
    int m_fd = -1;
    qint64 m_period = 0;
    qint64 m_fileRows = 0;   // rows in the current file, written or pending
    qint64 m_fileBytes = 0;  // its size with the pending rows
    qint64 m_written = 0;    // bytes in the file, whole rows only
    QByteArray m_pending;
    qint64 m_pendingRows = 0;
    qint64 m_rowsWritten = 0;
    qint64 m_startSteadyMs = -1;
    qint64 m_lastMs = 0;
    bool m_blocked = false;  // dropping reports until the next try
    bool m_failing = false;  // writes failed and none has succeeded since
    qint64 m_lost = 0;       // since the writes began to fail
    qint64 m_lostTotal = 0;
};
