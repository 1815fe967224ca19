// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "commandline.h"
#include "commframe.h"
#include "csvrecorder.h"
#include "framereader.h"
#include "housekeeper.h"
#include "linesettings.h"
#include "messagelog.h"
#include "reconnectwatcher.h"
#include "rotatingrecorder.h"
#include "systemdnotifier.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QSerialPort;

// orvale-logger's work, everything after the command line: the board's port
// read as the window reads it (every byte into the frame reader), each valid
// report handed to the sinks (the rotating recorder first; a publisher can
// be one more), the port waited for and reopened as the window does, the
// folder kept, the service manager told how it goes, and SIGHUP, SIGTERM
// and SIGINT answered. main() only builds it and runs the event loop.
class LoggerService : public QObject
{
    Q_OBJECT

public:
    // Takes every valid report, in the order the board sent them.
    using Sink = std::function<void(const Arrival &at, const COMM_UART_OBJ &report)>;

    LoggerService(const orvale::LineOptions &line, const orvale::LoggerOptions &options, const MessageLog &log,
                  QObject *parent = nullptr);
    ~LoggerService() override;

    // Makes the folder, sweeps it, opens the port or begins the wait for
    // it, and tells the service manager it is ready. False when the folder
    // cannot be made (said through the log): nothing to record into.
    [[nodiscard]] bool start();
    void addSink(Sink sink) { m_sinks.push_back(std::move(sink)); }

    // SIGHUP: a new file at once; SIGTERM, SIGINT: stop(), then finished().
    void handleSignal(int signalNumber);
    // Takes what the port still holds, writes and closes the file.
    void stop();

    [[nodiscard]] bool isPortOpen() const { return m_port != nullptr; }
    [[nodiscard]] const RotatingRecorder &recorder() const { return m_recorder; }
    // The port's path, as opened and waited for.
    [[nodiscard]] QString portPath() const { return m_portPath; }
    // The files' name, --name or the port's base name; also the board's
    // tag when publishing.
    [[nodiscard]] QString name() const;

signals:
    // After a stop asked for by a signal: the program may end, status 0.
    void finished();

private:
    void openPort(bool fromWait);
    void readPort();
    void portError();
    void releasePort();
    void waitForPort(bool triedNow);
    void sendStatus();
    QString statusText() const;

    QString m_portPath;
    orvale::LineSettings m_line;
    orvale::LoggerOptions m_options;
    MessageLog m_log;
    RotatingRecorder m_recorder;
    Housekeeper m_housekeeper;
    SystemdNotifier m_notifier;
    orvale::ReconnectWatcher m_reconnect;
    orvale::FrameReader m_reader;
    QSerialPort *m_port = nullptr;
    std::vector<Sink> m_sinks;
    QTimer m_statusTimer;
    QTimer m_sweepTimer;
    QElapsedTimer m_lostAt;  // since the port went, for the reopening's line
    bool m_started = false;  // stop() has something to stop
    bool m_ready = false;    // STATUS= only after READY=1
    bool m_stopped = false;
};
