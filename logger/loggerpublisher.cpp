// SPDX-License-Identifier: GPL-3.0-or-later
#include "loggerpublisher.h"


QString LoggerPublisher::settingsFrom(const orvale::BrokerOptions &options, const QString &board,
                                      ReportPublisher::Settings *out)
{
    out->url = *options.publish;
    out->board = board;
    out->caFile = options.caFile;
    if (options.queueBytes > 0)
        out->queueBytes = options.queueBytes;
    return options.readFiles(&out->password);
}

LoggerPublisher::LoggerPublisher(const ReportPublisher::Settings &settings, const MessageLog &log, QObject *parent)
    : QObject(parent), m_settings(settings), m_log(log), m_address(settings.url.toString())
{
    connect(&m_publisher, &ReportPublisher::connected, this, &LoggerPublisher::onConnected);
    connect(&m_publisher, &ReportPublisher::failed, this, &LoggerPublisher::onFailed);
    m_queueWatch.setInterval(1000);
    connect(&m_queueWatch, &QTimer::timeout, this, &LoggerPublisher::watchQueue);
}

void LoggerPublisher::start()
{
    m_log.write(MessageLog::Info, tr("publishing to %1 as board %2; up to %3 bytes wait in memory while the broker "
                                     "is away")
                                      .arg(m_address, m_settings.board)
                                      .arg(m_settings.queueBytes));
    m_awaySince.start();  // until the first connection: its reports wait too
    m_publisher.start(m_settings);
}

void LoggerPublisher::append(const Arrival &at, const COMM_UART_OBJ &report)
{
    ++m_appended;
    m_publisher.append(at, report);
}

void LoggerPublisher::onConnected()
{
    m_queueWatch.stop();
    if (m_said != BrokerError::None) {
        m_log.write(MessageLog::Info, (m_everConnected ? tr("publishing to %1 again after %2 s; reports lost meanwhile: %3")
                                                       : tr("publishing to %1 after %2 s; reports lost meanwhile: %3"))
                                          .arg(m_address)
                                          .arg(m_awaySince.elapsed() / 1000.0, 0, 'f', 1)
                                          .arg(m_publisher.lost() - m_lostBefore));
    } else if (!m_everConnected) {
        m_log.write(MessageLog::Info, tr("connected to the broker at %1").arg(m_address));
    }
    m_everConnected = true;
    m_said = BrokerError::None;
    m_overflowSaid = false;
    m_awaySince.invalidate();
}

void LoggerPublisher::onFailed(const BrokerError &error)
{
    if (m_stopped)
        return;
    if (m_said == BrokerError::None) {
        m_lostBefore = m_publisher.lost();
        if (!m_awaySince.isValid())
            m_awaySince.start();
        m_queueWatch.start();
    } else if (error.code == m_said
               || (m_said == BrokerError::ConnectionLost
                   && (error.code == BrokerError::Refused || error.code == BrokerError::Timeout))) {
        // The same outage seen again by the next attempt: a broker that
        // went away refuses or does not answer until it is back.
        return;
    }
    m_said = error.code;
    m_log.write(MessageLog::Warning, tr("cannot publish to %1: %2; the reports wait in memory and go out when it is "
                                        "back (trying again, at most every 30 s); recording goes on")
                                         .arg(m_address, error.describe()));
}

void LoggerPublisher::watchQueue()
{
    if (m_overflowSaid || m_publisher.lost() == m_lostBefore)
        return;
    m_overflowSaid = true;
    m_log.write(MessageLog::Warning, tr("the queue for %1 is full (%2 bytes): the oldest reports are dropped until "
                                        "the broker is back")
                                         .arg(m_address)
                                         .arg(m_settings.queueBytes));
}

void LoggerPublisher::stop(int msecs)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_queueWatch.stop();
    m_publisher.stop(msecs);
    const qint64 undelivered = m_appended - m_publisher.deliveredReports() - m_publisher.lost();
    m_log.write(MessageLog::Info, tr("stopped publishing: %1 reports delivered, %2 lost, %3 undelivered")
                                      .arg(m_publisher.deliveredReports())
                                      .arg(m_publisher.lost())
                                      .arg(undelivered));
}

// Compiled with this file, so the build reads its headers once.
#include "moc_loggerpublisher.cpp"
