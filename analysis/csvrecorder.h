// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commframe.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QTimer>

// When a read arrived: on the wall clock for the file's time of day, on the
// monotonic clock for the seconds since recording started, which a clock set
// back must not make run backwards.
struct Arrival
{
    qint64 utcMs = 0;
    qint64 steadyMs = 0;
    static Arrival now();
};

// Writes every report it is given as one CSV row, in the texts the window
// shows. Rows are collected and written at least once a second, each write
// whole rows only, so a crash loses at most the last second and leaves no
// cut row. A write that fails ends the recording; every whole row that
// reached the file stays, only a row the disk cut goes.
class CsvRecorder : public QObject
{
    Q_OBJECT

public:
    static const char Header[];

    // Why a recording did not start or stopped, as a value the front end
    // words: the system's own reason where it gave one; for a write the disk
    // cut short without one, how many of the bytes it took.
    enum class Error { None, CannotOpen, CannotWrite, WriteCutShort };
    struct Failure
    {
        Error error = Error::None;
        QString systemReason;
        qint64 bytesTaken = 0;
        qint64 bytesGiven = 0;
    };

    explicit CsvRecorder(QObject *parent = nullptr);
    ~CsvRecorder() override;

    // False, with failure(), when the file cannot be opened.
    bool start(const QString &path);
    // Writes what is collected and closes the file.
    void stop();
    // Writes what is collected now; false (and stopped) on a failed write.
    bool flush();

    bool isRecording() const { return m_file.isOpen(); }
    void append(const Arrival &at, const COMM_UART_OBJ &report);
    // One row as append() writes it, `ms` after the recording began; shared
    // with the headless logger's rotated files so both read back alike.
    static void appendRow(QByteArray &row, qint64 utcMs, qint64 ms, const COMM_UART_OBJ &report);
    qint64 rowCount() const { return m_rows; }
    QString fileName() const { return m_file.fileName(); }
    // Error::None until a start or a write fails.
    Failure failure() const { return m_failure; }

signals:
    // Once a second while recording, after the collected rows are written.
    void flushed(qint64 rows);
    // The recording has stopped because a write failed (failure() says why).
    void failed();

private:
    QFile m_file;
    QByteArray m_pending;
    QTimer m_flushTimer;
    qint64 m_rows = 0;
    qint64 m_written = 0;  // bytes in the file, whole rows only
    qint64 m_startSteadyMs = 0;
    qint64 m_lastMs = 0;
    Failure m_failure;
};
