// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "boardsignal.h"
#include "commandscanner.h"
#include "commframe.h"
#include "framereader.h"
#include "reportschedule.h"
#include "simoptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <deque>
#include <optional>

class PseudoTerminal;
class QSocketNotifier;
class QTimer;

// The simulated board: writes report frames to the line at its rate (with
// the faults asked for), takes over the settings of valid command frames,
// and logs both on standard error.
//
// Writing never blocks. Bytes go through a queue that is written whenever
// the non-blocking master can take them (a write notifier is enabled only
// while something waits, so an idle line costs no CPU). At a fixed rate, a
// report that falls due while the line already holds too many unread bytes
// (nobody reading) is dropped and counted, never queued, so a client that
// connects late gets only a little stale data. In burst mode the next report
// is made only when the line can take it, so the kernel's buffer paces it.
class BoardSim : public QObject
{
    Q_OBJECT

public:
    BoardSim(const SimOptions &options, PseudoTerminal &line, quint32 seed, QObject *parent = nullptr);

signals:
    // The run is over; `exitCode` is the process's exit status.
    void finished(int exitCode);

public slots:
    void start();
    // Ends the run at once, without waiting for unread bytes (a signal).
    void stopNow();

private slots:
    void sendDueReports();
    void onWritable();
    void onPauseOver();
    void readCommands();
    void dropQuietCommandBytes();
    void stopReporting();
    void checkDrained();

private:
    enum class PieceKind { Part, Junk, Report, CorruptReport };
    struct Piece
    {
        QByteArray bytes;
        PieceKind kind = PieceKind::Part;
        int pauseBeforeMs = 0;  // the second half of a split frame waits this long
        QByteArray fullFrame;   // for the log line of a report, whole even if split
    };

    COMM_UART_OBJ makeReport();
    void queueReport();
    void queuePiece(Piece piece);
    void writeQueue();
    void updateWriteNotifier();
    void pieceWritten(const Piece &piece);
    [[nodiscard]] bool lineBackedUp() const;
    void applyCommand(const QByteArray &bytes);
    void scheduleNextTick();
    void fail(const QString &message);
    void finish(int exitCode);
    qint64 nowNs() const { return m_clock.nsecsElapsed(); }

    const SimOptions m_options;
    PseudoTerminal &m_line;
    QRandomGenerator m_random;
    BoardSignal m_signal;

    uint8_t m_id = 0;
    orvale::SettingsGroup m_settings = {};
    ReportSchedule m_schedule;
    QElapsedTimer m_clock;

    QTimer *m_tickTimer = nullptr;
    QTimer *m_pauseTimer = nullptr;
    QTimer *m_durationTimer = nullptr;
    QTimer *m_quietTimer = nullptr;
    QTimer *m_drainTimer = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;

    std::deque<Piece> m_queue;
    int m_frontWritten = 0;  // bytes of the front piece already written
    qint64 m_queuedBytes = 0;
    bool m_paused = false;
    // Sees every byte in the order it will be written, to check that a
    // client's frame reader finds exactly the reports that are logged.
    orvale::FrameReader m_shadow;
    CommandScanner m_commands;

    bool m_reporting = false;
    bool m_finished = false;
    qint64 m_made = 0;
    qint64 m_sent = 0;
    qint64 m_valid = 0;
    qint64 m_dropped = 0;

    // Progress while draining: the last (queued, unread) seen and when.
    qint64 m_drainQueued = -1;
    int m_drainUnread = -1;
    qint64 m_drainProgressNs = 0;
    int m_drainQuietChecks = 0;
};
