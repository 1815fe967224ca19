// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "brokerurl.h"
#include "commframe.h"
#include "csvrecorder.h"
#include "mqttclient.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <deque>

// Publishes every report it is given to PREFIX/reports as line-protocol
// lines, all reports of at most BatchMs in one QoS 1 message; PREFIX/status
// "online" while connected ("offline" as the last will and at stop()); and
// once a second a retained summary on PREFIX/summary.
//
// Messages wait in a queue until the broker has acknowledged them, so a
// broker that goes away loses nothing that fits the queue's bound: they go
// out in order once it is back, resent whole when a connection died with them
// in flight (the reader drops the repeats by seq). Past the bound the oldest
// waiting messages go, their reports counted in lost().
class ReportPublisher : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultQueueBytes = 64 * 1024 * 1024;
    static constexpr int BatchMs = 100;
    static constexpr int MaxInFlight = 16;  // below libmosquitto's own 20

    struct Settings
    {
        BrokerUrl url;
        QByteArray password;
        QString caFile;
        QString board;  // the logger's --name, the window's port name
        qint64 queueBytes = DefaultQueueBytes;
        int firstRetryMs = MqttClient::FirstRetryMs;
    };

    explicit ReportPublisher(QObject *parent = nullptr);
    ~ReportPublisher() override;

    void start(const Settings &settings);
    // Sends what is queued and "offline", for at most `msecs`, then
    // disconnects cleanly. Runs without the event loop, so it may be called
    // while the program is ending.
    void stop(int msecs = 2000);
    bool isPublishing() const { return m_client.isRunning(); }

    void append(const Arrival &at, const COMM_UART_OBJ &report);
    // Closes the reports collected so far into a message now, without
    // waiting for the batch's time to end.
    void flush();

    bool isConnected() const { return m_client.isConnected(); }
    qint64 lost() const { return m_lost; }
    qint64 queuedBytes() const { return m_queuedBytes; }
    qint64 queuedMessages() const { return qint64(m_queue.size()); }
    // Reports the broker has acknowledged.
    qint64 deliveredReports() const { return m_delivered; }
    BrokerError lastError() const { return m_client.lastError(); }
    // The summary's JSON for the reports since the last one, at `utcMs`;
    // starts the next second's figures.
    [[nodiscard]] QByteArray takeSummary(qint64 utcMs);

signals:
    void connected();
    void failed(const BrokerError &error);

private:
    struct Message
    {
        QByteArray payload;
        qint64 reports = 0;
        int mid = -1;  // in flight when not -1
    };

    void enqueue(Message message);
    void sendWaiting();
    void onConnected();
    void onPublished(int mid);

    MqttClient m_client;
    Settings m_settings;
    QTimer m_batchTimer;
    QTimer m_summaryTimer;
    std::deque<Message> m_queue;
    QByteArray m_batch;
    qint64 m_batchReports = 0;
    QByteArray m_boardTag;
    QByteArray m_settingsTags;
    uint32_t m_settingsKey = 0xffffffffu;  // codes m_settingsTags was made for
    qint64 m_seq = 0;
    qint64 m_lastNs = 0;
    qint64 m_queuedBytes = 0;
    qint64 m_inFlight = 0;
    qint64 m_lost = 0;
    qint64 m_delivered = 0;
    int m_statusMid = -1;
    // This second's figures, in counts from its first value so the sums stay exact.
    qint64 m_count = 0;
    uint32_t m_reference = 0;
    qint64 m_sum = 0;
    double m_sumSquares = 0;
    uint32_t m_min = 0;
    uint32_t m_max = 0;
};
