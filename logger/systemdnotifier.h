// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Tells the service manager how the logger is (sd_notify): READY=1 once it
// records or waits, STATUS= lines, and WATCHDOG=1 at half the interval the
// unit sets, from the event loop, so a loop that hangs stops the pings and
// the manager restarts the service. Without NOTIFY_SOCKET it does nothing.
class SystemdNotifier : public QObject
{
    Q_OBJECT

public:
    explicit SystemdNotifier(QObject *parent = nullptr);

    void ready(const QString &status);
    void status(const QString &status);
    void stopping();

    // 0 when the unit sets no watchdog for this process.
    int watchdogIntervalMs() const { return m_watchdog.isActive() ? m_watchdog.interval() : 0; }

private:
    // False when there is no manager to tell or the message did not go.
    bool notify(const QByteArray &state);

    QTimer m_watchdog;
};
