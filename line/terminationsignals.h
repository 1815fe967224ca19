// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event
// loop, so a session manager's or a script's stop ends the program the way
// closing the window does: the recording written and closed, the port
// closed. The handler only writes the signal's number into a pipe, the one
// thing that is safe at any point the process can be interrupted.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // One instance per process: the handlers write into its pipe.
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or a handler could not be set up; the signals
    // then keep what they did before (by default, end the program at once).
    [[nodiscard]] bool isActive() const { return m_notifier != nullptr; }
    // Why not, when not active.
    [[nodiscard]] QString errorString() const { return m_error; }

signals:
    void received(int signalNumber);

private:
    void readPipe();
    void restorePrevious();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    QString m_error;
};
