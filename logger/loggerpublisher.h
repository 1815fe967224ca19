// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokererror.h"
#include "commandline.h"
#include "messagelog.h"
#include "reportpublisher.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

// orvale-logger's publishing (--publish): every report it records also goes
// to a broker, and what the broker does is told through the log, one line
// when it goes away and one when it is back with what was lost meanwhile,
// never a line for every retry of a long night.
class LoggerPublisher : public QObject
{
    Q_OBJECT

public:
    // The publisher's settings from the options, with `board` as the board
    // tag and the password read from its file; the refusal for standard
    // error when a file cannot be read, else empty.
    [[nodiscard]] static QString settingsFrom(const orvale::BrokerOptions &options, const QString &board,
                                              ReportPublisher::Settings *out);

    LoggerPublisher(const ReportPublisher::Settings &settings, const MessageLog &log, QObject *parent = nullptr);

    void start();
    void append(const Arrival &at, const COMM_UART_OBJ &report);
    // Sends what waits and "offline" for at most `msecs` (nothing to wait
    // for when the broker is away), then closes the connection.
    void stop(int msecs = 2000);

    [[nodiscard]] const ReportPublisher &publisher() const { return m_publisher; }

private:
    void onConnected();
    void onFailed(const BrokerError &error);
    void watchQueue();

    ReportPublisher m_publisher;
    ReportPublisher::Settings m_settings;
    MessageLog m_log;
    QString m_address;
    QTimer m_queueWatch;       // the queue overflows without a signal
    QElapsedTimer m_awaySince;  // valid while the broker is away
    BrokerError::Code m_said = BrokerError::None;  // the failure last logged in this outage
    qint64 m_lostBefore = 0;   // lost() when the outage began
    qint64 m_appended = 0;
    bool m_everConnected = false;
    bool m_overflowSaid = false;
    bool m_stopped = false;
};
